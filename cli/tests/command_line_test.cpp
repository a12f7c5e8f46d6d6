#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"

namespace tolvex::cli {
namespace {

struct ParseRow {
    std::vector<std::string> args;
    bool ok;
    CliMode mode;
    std::string file;
    bool verbose;
};

TEST(ParseArguments, AcceptsTheDocumentedForms) {
    const ParseRow rows[] = {
        {{"a.tvu"}, true, CliMode::Update, "a.tvu", false},
        {{"-v", "a.tvu"}, true, CliMode::Update, "a.tvu", true},
        {{"a.tvu", "--verbose"}, true, CliMode::Update, "a.tvu", true},
        {{"--info", "a.tvu"}, true, CliMode::Info, "a.tvu", false},
        {{"a.tvu", "--info", "-v"}, true, CliMode::Info, "a.tvu", true},
        {{"--help"}, true, CliMode::Help, "", false},
        {{"-h"}, true, CliMode::Help, "", false},
        {{"--version"}, true, CliMode::Version, "", false},
        // --help wins even over arguments that would be errors on their own.
        {{"--bogus", "--help"}, true, CliMode::Help, "", false},
        {{"a.tvu", "b.tvu", "--version"}, true, CliMode::Version, "", false},
        // After "--" everything is a file, even a name that looks like an option.
        {{"--", "--help"}, true, CliMode::Update, "--help", false},
        {{"-v", "--", "-odd.tvu"}, true, CliMode::Update, "-odd.tvu", true},
        // A lone "-" is a file name, not an option.
        {{"-"}, true, CliMode::Update, "-", false},
    };
    for (const ParseRow& row : rows) {
        const ParsedArguments parsed = ParseArguments(row.args);
        SCOPED_TRACE(::testing::PrintToString(row.args));
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_EQ(parsed.options.mode, row.mode);
        EXPECT_EQ(parsed.options.file, row.file);
        EXPECT_EQ(parsed.options.verbose, row.verbose);
    }
}

TEST(ParseArguments, RejectsUsageErrorsWithAReason) {
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"-v"},
        {"--info"},
        {"--bogus", "a.tvu"},
        {"a.tvu", "-x"},
        {"a.tvu", "b.tvu"},
        {"--", "a.tvu", "b.tvu"},
    };
    for (const auto& args : rows) {
        const ParsedArguments parsed = ParseArguments(args);
        EXPECT_FALSE(parsed.ok) << ::testing::PrintToString(args);
        EXPECT_FALSE(parsed.error.empty());
    }
}

class RunCliTest : public ::testing::Test {
  protected:
    int Run(const std::vector<std::string>& args) {
        CliSystem system;
        system.out = &out;
        system.err = &err;
        return RunCli(args, system);
    }
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(RunCliTest, UsageErrorExitsTwoWithShortUsageOnStderr) {
    EXPECT_EQ(Run({"--bogus", "a.tvu"}), kExitUsage);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("unknown option '--bogus'"), std::string::npos);
    EXPECT_NE(err.str().find("Usage: tolvex-flash"), std::string::npos);

    err.str("");
    EXPECT_EQ(Run({}), kExitUsage);
    EXPECT_NE(err.str().find("no FILE given"), std::string::npos);
}

TEST_F(RunCliTest, HelpListsEveryExitCodeAndTheDriverSearch) {
    EXPECT_EQ(Run({"--help"}), kExitOk);
    const std::string help = out.str();
    for (const char* line :
         {"Usage: tolvex-flash", "  10  FTD2XX.DLL not found", "  18  Error on closing USB!",
          "   2  usage error", " 130  interrupted", "operating system's loader"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(err.str(), "");
}

TEST_F(RunCliTest, VersionIsTheProgramNameAndProjectVersion) {
    EXPECT_EQ(Run({"--version"}), kExitOk);
    EXPECT_EQ(out.str(), "tolvex-flash " TOLVEX_TEST_VERSION "\n");
}

// --info on files written by the test itself.
class InfoTest : public RunCliTest {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = ::testing::TempDir() + "tolvex_cli_info_" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string Trailer() { return std::string("\x5A\xA5\x5A\xA5", 4); }
};

TEST_F(InfoTest, ReportsModelPayloadSumAndEstimate) {
    // The smallest accepted file: its payload is the trailer alone, which sums to 0x1FE.
    const std::string path = Write("minimal.tvu", "TolvexFile999999" + Trailer());
    EXPECT_EQ(Run({"--info", path}), kExitOk);
    EXPECT_EQ(out.str(), "File: " + path +
                             "\n"
                             "Model code: 999999 (standard hardware, identifier \"m:9.\")\n"
                             "Payload size: 4 bytes\n"
                             "Payload sum: 0x01FE\n"
                             "Estimate: 1 minute to complete the upgrade\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(InfoTest, SumsEveryPayloadByteAndKeepsTheLow16Bits) {
    // 300 bytes of 0xFF: 76500 = 0x12AD4, plus the trailer's 0x1FE = 0x12CD2.
    const std::string path =
        Write("pro.tvu", "TolvexFile999PRO" + std::string(300, '\xFF') + Trailer());
    EXPECT_EQ(Run({"--info", path}), kExitOk);
    EXPECT_NE(out.str().find("Model code: 999PRO (pro hardware"), std::string::npos);
    EXPECT_NE(out.str().find("Payload size: 304 bytes\n"), std::string::npos);
    EXPECT_NE(out.str().find("Payload sum: 0x2CD2\n"), std::string::npos);
}

TEST_F(InfoTest, RejectedFilesAreNotReadable) {
    struct Row {
        const char* name;
        std::string bytes;
        const char* verboseReason;
    };
    const Row rows[] = {
        {"bad_magic.tvu", "TolvexFilz999999" + Trailer(), "\"TolvexFile\""},
        {"no_trailer.tvu", "TolvexFile999999\x5A\xA5\x5A\xA4", "trailer"},
        {"tiny.tvu", "ab", "shorter than its 4-byte trailer"},
        {"short_header.tvu", "TolvexFil" + Trailer(), "16-byte header"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        out.str("");
        err.str("");
        EXPECT_EQ(Run({"--info", Write(row.name, row.bytes)}), kExitFileNotReadable);
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str(), "File not readable!\n");

        err.str("");
        EXPECT_EQ(Run({"-v", "--info", Write(row.name, row.bytes)}), kExitFileNotReadable);
        EXPECT_NE(err.str().find(row.verboseReason), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("\nFile not readable!\n"), std::string::npos);
    }
}

TEST_F(InfoTest, MissingFileIsNotReadable) {
    EXPECT_EQ(Run({"--info", ::testing::TempDir() + "tolvex_cli_no_such_file.tvu"}),
              kExitFileNotReadable);
    EXPECT_EQ(err.str(), "File not readable!\n");
}

TEST_F(InfoTest, AModelCodeNoHardwareTakesIsShownButNotReadable) {
    // Passes the file's own checks; every update with it would fail once the hardware answers.
    const std::string path = Write("unknown_model.tvu", "TolvexFileABCDEF" + Trailer());
    EXPECT_EQ(Run({"--info", path}), kExitFileNotReadable);
    EXPECT_NE(out.str().find("Model code: ABCDEF (no hardware takes it)\n"), std::string::npos);
    EXPECT_EQ(err.str(), "File not readable!\n");
}

}  // namespace
}  // namespace tolvex::cli
