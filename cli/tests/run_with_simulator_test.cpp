// The command line's run over the real update sequence and the in-process simulator: what a
// Ctrl-C does, and the terminal display of a whole run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "sim/simulator.h"
#include "tests/support/temp_folder.h"

namespace tolvex::cli {
namespace {

class RunWithSimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // 60 blocks of payload: "TolvexFile999999", 14996 bytes, then the trailer.
        std::string payload(14996, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<char>(i * 7u);
        }
        path = temp.Write("sample.tvu", {"TolvexFile999999", payload, "\x5A\xA5\x5A\xA5"});

        sim::Scenario scenario;
        scenario.timeScale = 0;
        sim::InstallSimulator(scenario);
    }

    int Run(const std::vector<std::string>& args) {
        CliSystem system;
        system.out = &out;
        system.err = &err;
        system.stdoutIsTerminal = terminal;
        system.terminalWidth = 100;
        system.installInterruptHandler = [this] { ++handlerInstalls; };
        system.interruptRequested = [this] { return ++stopPolls > stopAfterPolls; };
        system.update.bindDriver = [](D2xxBinding& binding) { return sim::BindInProcess(binding); };
        return RunCli(args, system);
    }

    testing::TempFolder temp;
    std::string path;
    std::ostringstream out;
    std::ostringstream err;
    bool terminal = false;
    int handlerInstalls = 0;
    int stopPolls = 0;
    int stopAfterPolls = 1 << 30;
};

TEST_F(RunWithSimulatorTest, CtrlCDuringTheTransferStopsAfterTheBlockAndReleasesEverything) {
    stopAfterPolls = 10;  // one look before the erase, then one after each block: stops after 10
    EXPECT_EQ(Run({path}), kExitInterrupted);
    EXPECT_EQ(handlerInstalls, 1);

    const sim::Snapshot seen = sim::Inspect();
    EXPECT_EQ(seen.eraseCount, 1u);
    EXPECT_EQ(seen.flash.size(), 10u * 250u);  // erased and partly written
    EXPECT_EQ(seen.verifyCount, 0u);
    ASSERT_EQ(seen.handles.size(), 1u);
    EXPECT_EQ(seen.handles[0].closes, 1u);
    EXPECT_EQ(seen.releases, seen.binds);

    EXPECT_NE(err.str().find("interrupted"), std::string::npos);
    EXPECT_NE(err.str().find("partly written"), std::string::npos);
    EXPECT_EQ(out.str().find("Hardware updated correctly!"), std::string::npos);
    // The file was released: a second run with it goes through.
    out.str("");
    err.str("");
    stopAfterPolls = 1 << 30;
    stopPolls = 0;
    EXPECT_EQ(Run({path}), kExitOk) << err.str();
}

TEST_F(RunWithSimulatorTest, CtrlCBeforeTheEraseLeavesTheHardwareUnchanged) {
    stopAfterPolls = 0;  // pressed while connecting: seen before anything is erased
    EXPECT_EQ(Run({path}), kExitInterrupted);
    const sim::Snapshot seen = sim::Inspect();
    EXPECT_EQ(seen.eraseCount, 0u);
    EXPECT_TRUE(seen.flash.empty());
    EXPECT_EQ(seen.handles.at(0).closes, 1u);
    EXPECT_NE(err.str().find("hardware is unchanged"), std::string::npos) << err.str();
}

TEST_F(RunWithSimulatorTest, CtrlCDuringTheEraseTakesEffectAfterTheFirstBlock) {
    stopAfterPolls = 1;  // the check before the erase passed; the next is after block 1
    EXPECT_EQ(Run({path}), kExitInterrupted);
    const sim::Snapshot seen = sim::Inspect();
    EXPECT_EQ(seen.eraseCount, 1u);
    EXPECT_EQ(seen.flash.size(), 250u);
    EXPECT_EQ(seen.handles.at(0).closes, 1u);
    EXPECT_NE(err.str().find("partly written"), std::string::npos) << err.str();
}

TEST_F(RunWithSimulatorTest, OnATerminalAWholeRunIsOneProgressLineAndTheOutcome) {
    terminal = true;
    EXPECT_EQ(Run({path}), kExitOk);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u) << out.str();
    EXPECT_NE(lines[0].find("Erasing..."), std::string::npos);
    EXPECT_NE(lines[0].find("Transmitting..."), std::string::npos);
    const std::string last = lines[0].substr(lines[0].rfind('\r') + 1);
    EXPECT_EQ(last.rfind("Verifying...    [########################] 100%  60/60 blocks", 0), 0u)
        << last;
    EXPECT_EQ(lines[1], "Hardware updated correctly!");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace tolvex::cli
