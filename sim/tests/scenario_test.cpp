// Reading TOLVEX_SIM values: the key=value form, the file form and the refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "sim/simulator.h"

namespace tolvex::sim {
namespace {

TEST(ScenarioTest, EmptyTextIsTheDefaultHealthyRealTimeDevice) {
    Scenario s;
    s.devices = 5;
    std::string error;
    ASSERT_TRUE(ParseScenario("", s, error)) << error;
    EXPECT_EQ(s.devices, 1u);
    EXPECT_EQ(s.model, Model::Standard);
    EXPECT_EQ(s.generation, Generation::A);
    EXPECT_EQ(s.erase, Answer::Ok);
    EXPECT_EQ(s.verify, Answer::Ok);
    EXPECT_EQ(s.failCalls, 0u);
    EXPECT_EQ(s.pending, Pending::Reads);
    EXPECT_EQ(s.timeScale, 1.0);
    EXPECT_EQ(s.latencyMs, 16u);
    EXPECT_FALSE(s.nakBlock);
    EXPECT_FALSE(s.vanishBlock);
}

struct GoodCase {
    const char* text;
    std::function<bool(const Scenario&)> holds;
};

TEST(ScenarioTest, EachKeySetsItsField) {
    const GoodCase cases[] = {
        {"devices=0", [](const Scenario& s) { return s.devices == 0; }},
        {"devices=3", [](const Scenario& s) { return s.devices == 3; }},
        {"model=pro", [](const Scenario& s) { return s.model == Model::Pro; }},
        {"id=Q:1.2", [](const Scenario& s) { return s.id == "Q:1.2"; }},
        {"generation=B", [](const Scenario& s) { return s.generation == Generation::B; }},
        {"tag=sum", [](const Scenario& s) { return s.tag == TagRule::Sum; }},
        {"tag=any", [](const Scenario& s) { return s.tag == TagRule::Any; }},
        {"identify_short=2", [](const Scenario& s) { return s.identifyShort == 2; }},
        {"erase=nak", [](const Scenario& s) { return s.erase == Answer::Nak; }},
        {"erase=silent", [](const Scenario& s) { return s.erase == Answer::Silent; }},
        {"nak_block=7;nak_times=2",
         [](const Scenario& s) { return s.nakBlock == 7u && s.nakTimes == 2; }},
        {"nak_block=0;nak_times=always",
         [](const Scenario& s) { return s.nakBlock == 0u && s.nakTimes == kNakAlways; }},
        {"vanish_block=12", [](const Scenario& s) { return s.vanishBlock == 12u; }},
        {"verify=silent", [](const Scenario& s) { return s.verify == Answer::Silent; }},
        {"fail=open", [](const Scenario& s) { return s.failCalls == kFailOpen; }},
        {"fail=setcommstate, close",
         [](const Scenario& s) { return s.failCalls == (kFailSetCommState | kFailClose); }},
        {"pending=all", [](const Scenario& s) { return s.pending == Pending::All; }},
        {"pending=none", [](const Scenario& s) { return s.pending == Pending::None; }},
        {"timescale=0", [](const Scenario& s) { return s.timeScale == 0.0; }},
        {"timescale=0.25", [](const Scenario& s) { return s.timeScale == 0.25; }},
        {"latency_ms=2", [](const Scenario& s) { return s.latencyMs == 2; }},
        {"erase_ms=10;keepalive_ms=3;program_ms=0;verify_ms=1",
         [](const Scenario& s) {
             return s.eraseMs == 10 && s.keepAliveMs == 3 && s.programMs == 0 && s.verifyMs == 1;
         }},
        {"trace=/tmp/a b.txt", [](const Scenario& s) { return s.tracePath == "/tmp/a b.txt"; }},
        {"flash=out.bin", [](const Scenario& s) { return s.flashPath == "out.bin"; }},
        {" model = pro ;; devices = 2 ;",
         [](const Scenario& s) { return s.model == Model::Pro && s.devices == 2; }},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(c.text, s, error)) << c.text << ": " << error;
        EXPECT_TRUE(c.holds(s)) << c.text;
    }
}

TEST(ScenarioTest, BadTextIsRefusedWithAReasonAndLeavesTheScenarioAlone) {
    const char* const cases[] = {
        "devcies=2",     // unknown key
        "devices",       // no value
        "devices=-1",    // not a count
        "devices=2x",    // trailing garbage
        "model=deluxe",  // unknown model
        "generation=C",  // unknown generation
        "tag=middle",    // unknown tag rule
        "erase=maybe",   // unknown answer
        "nak_times=sometimes",
        "fail=open,reboot",  // unknown call
        "pending=some",
        "timescale=-1",  // negative time
        "timescale=fast",
        "latency_ms=0",           // the chip's timer is 1..255 ms
        "devices=1;verify=loud",  // one bad pair spoils the whole text
        "/no/such/scenario/file",
    };
    for (const char* text : cases) {
        Scenario s;
        s.devices = 9;
        std::string error;
        EXPECT_FALSE(ParseScenario(text, s, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(s.devices, 9u) << text;
    }
}

TEST(ScenarioTest, AValueWithoutEqualsSignIsAFileOfKeysOnePerLine) {
    const auto path = std::filesystem::temp_directory_path() / "tolvex_sim_scenario_test.txt";
    {
        std::ofstream file(path);
        file << "# a pro device that loses block 3\r\nmodel=pro\n\nvanish_block=3\ntimescale=0\n";
    }
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(path.string(), s, error)) << error;
    EXPECT_EQ(s.model, Model::Pro);
    EXPECT_EQ(s.vanishBlock, 3u);
    EXPECT_EQ(s.timeScale, 0.0);

    {
        std::ofstream file(path);
        file << "model=pro\nbogus=1\n";
    }
    EXPECT_FALSE(ParseScenario(path.string(), s, error));
    EXPECT_NE(error.find("bogus"), std::string::npos) << error;
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tolvex::sim
