#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/flash_front_end.h"

namespace tolvex::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class FrontEndTest : public ::testing::Test {
  protected:
    FlashFrontEnd Make(bool terminal, bool verbose) {
        FrontEndConfig config;
        config.terminal = terminal;
        config.width = 120;
        config.verbose = verbose;
        config.stopRequested = [this] { return stop; };
        config.clock = [this] { return now; };
        config.hints.driverNotFound = "HINT-DRIVER";
        config.hints.noDevice = "HINT-NO-DEVICE";
        config.hints.deviceNotOpened = "HINT-NOT-OPENED";
        return FlashFrontEnd(out, err, config);
    }

    // What the update sequence does to its front end from erase to the end of verify, for
    // a file of 300 blocks.
    void RunThroughVerify(FlashFrontEnd& fe) {
        fe.SetStatusText("Erasing...");
        fe.SetStatusVisible(true);
        fe.SetEstimateText("1 minute to complete the upgrade");
        fe.SetEstimateVisible(true);
        fe.SetStatusText("Transmitting...");
        for (std::uint32_t done = 1; done <= 301; ++done) {
            now += 5;
            fe.OnTransferProgress({done, 300, std::uint64_t{done} * 250u, 0});
            if (done == 100) {
                fe.SetEstimateText("2 seconds to complete the upgrade");
            }
        }
        fe.SetEstimateVisible(false);
        fe.SetStatusText("Verifying...");
        fe.SetStatusVisible(false);
    }

    std::ostringstream out;
    std::ostringstream err;
    bool stop = false;
    std::uint32_t now = 1000;
};

TEST_F(FrontEndTest, WithoutTerminalLogsEveryStatusAndEstimateInOrder) {
    FlashFrontEnd fe = Make(false, false);
    RunThroughVerify(fe);
    EXPECT_EQ(fe.Finish(UpdateResult::Ok), kExitOk);
    EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{
                                    "Erasing...",
                                    "1 minute to complete the upgrade",
                                    "Transmitting...",
                                    "2 seconds to complete the upgrade",
                                    "Verifying...",
                                    "Hardware updated correctly!",
                                }));
    EXPECT_EQ(err.str(), "");
}

TEST_F(FrontEndTest, WithoutTerminalAFailureIsItsMessageOnStderrAlone) {
    FlashFrontEnd fe = Make(false, false);
    fe.SetStatusText("Erasing...");
    fe.SetStatusVisible(true);
    fe.SetStatusVisible(false);
    fe.ShowError(UpdateResult::EraseFailed, "Error on erasing the hardware!");
    EXPECT_EQ(fe.Finish(UpdateResult::EraseFailed), kExitEraseFailed);
    EXPECT_EQ(out.str(), "Erasing...\n");
    EXPECT_EQ(err.str(), "Error on erasing the hardware!\n");
}

TEST_F(FrontEndTest, AFailureWithoutABoxStillPrintsItsMessage) {
    FlashFrontEnd fe = Make(false, false);
    EXPECT_EQ(fe.Finish(UpdateResult::ConnectFailed), kExitConnectFailed);
    EXPECT_EQ(err.str(), "Unable to connect to the hardware!\n");
}

TEST_F(FrontEndTest, OnATerminalRedrawsOneLineAndEndsWithTheOutcome) {
    FlashFrontEnd fe = Make(true, false);
    RunThroughVerify(fe);
    EXPECT_EQ(fe.Finish(UpdateResult::Ok), kExitOk);
    const std::string text = out.str();
    // Exactly two lines: the progress line, drawn in place, and the outcome.
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    EXPECT_EQ(lines[1], "Hardware updated correctly!");
    // The last drawing of the progress line is the finished transfer under "Verifying...".
    const std::string lastDrawing = lines[0].substr(lines[0].rfind('\r') + 1);
    EXPECT_EQ(lastDrawing.substr(0, lastDrawing.find_last_not_of(' ') + 1),
              "Verifying...    [########################] 100%  300/300 blocks");
    // A fast transfer is not drawn for every block: about one drawing per percent.
    const auto drawings = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r'));
    EXPECT_GE(drawings, 100u);
    EXPECT_LT(drawings, 120u);
}

TEST_F(FrontEndTest, OnATerminalTheLineIsFinishedBeforeTheErrorMessage) {
    FlashFrontEnd fe = Make(true, false);
    fe.SetStatusText("Erasing...");
    fe.SetStatusVisible(true);
    fe.SetStatusVisible(false);
    fe.ShowError(UpdateResult::EraseFailed, "Error on erasing the hardware!");
    EXPECT_EQ(fe.Finish(UpdateResult::EraseFailed), kExitEraseFailed);
    ASSERT_FALSE(out.str().empty());
    EXPECT_EQ(out.str().back(), '\n');
    EXPECT_EQ(err.str(), "Error on erasing the hardware!\n");
}

TEST_F(FrontEndTest, AStopEndsWithTheInterruptedNoticeAndCode130) {
    FlashFrontEnd fe = Make(false, false);
    fe.SetStatusText(kStatusErasing);
    EXPECT_FALSE(fe.StopRequested());
    stop = true;
    EXPECT_TRUE(fe.StopRequested());
    EXPECT_EQ(fe.Finish(UpdateResult::Stopped), kExitInterrupted);
    EXPECT_NE(err.str().find("interrupted"), std::string::npos);
    EXPECT_NE(err.str().find("partly written"), std::string::npos);
    EXPECT_EQ(out.str(), "Erasing...\n");
}

TEST_F(FrontEndTest, AStopBeforeTheEraseSaysTheHardwareIsUnchanged) {
    FlashFrontEnd fe = Make(false, false);
    stop = true;
    EXPECT_EQ(fe.Finish(UpdateResult::Stopped), kExitInterrupted);
    EXPECT_NE(err.str().find("interrupted before the erase"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("partly written"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
}

TEST_F(FrontEndTest, AnInterruptAfterTheTransferStillReportsTheCompletedUpdate) {
    FlashFrontEnd fe = Make(false, false);
    stop = true;
    EXPECT_EQ(fe.Finish(UpdateResult::Ok), kExitOk);
    EXPECT_EQ(Lines(out.str()).back(), "Hardware updated correctly!");
    EXPECT_NE(err.str().find("completed"), std::string::npos);
}

TEST_F(FrontEndTest, VerboseReportsDriverIdRetriesAndThroughput) {
    FlashFrontEnd fe = Make(false, true);
    fe.OnDriverBound("/opt/ftdi/libftd2xx.so");
    fe.OnHardwareId(std::string("m:9.\x01\x7F", 6));
    fe.SetStatusText("Transmitting...");
    now += 1000;
    fe.OnTransferProgress({1, 4, 250, 0});
    fe.OnTransferProgress({2, 4, 500, 2});  // block 1 needed two more attempts
    fe.OnTransferProgress({3, 4, 750, 2});
    now += 1000;
    fe.SetStatusText("Verifying...");
    now += 500;
    EXPECT_EQ(fe.Finish(UpdateResult::Ok), kExitOk);
    EXPECT_EQ(Lines(err.str()),
              (std::vector<std::string>{
                  "tolvex-flash: driver loaded from /opt/ftdi/libftd2xx.so",
                  "tolvex-flash: hardware identifier \"m:9.\\x01\\x7F\"",
                  "tolvex-flash: block 1 needed 2 more attempt(s); 2 retries so far",
                  "tolvex-flash: sent 750 acknowledged payload bytes in 3 blocks (3 transmit "
                  "calls), 2 retries, in 2.0 s (375 bytes/s)",
                  "tolvex-flash: elapsed 2.5 s",
              }));
}

TEST_F(FrontEndTest, VerboseExplainsConnectAndDriverFailures) {
    struct Row {
        ConnectStep step;
        const char* hint;
    };
    for (const Row& row : {Row{ConnectStep::ListDevices, "HINT-NO-DEVICE"},
                           Row{ConnectStep::CreateFile, "HINT-NOT-OPENED"}}) {
        err.str("");
        FlashFrontEnd fe = Make(false, true);
        fe.OnConnectFailed(row.step);
        EXPECT_NE(err.str().find(row.hint), std::string::npos) << err.str();
    }

    err.str("");
    FlashFrontEnd fe = Make(false, true);
    fe.OnDriverFailed("libftd2xx.so: cannot open shared object file");
    fe.ShowError(UpdateResult::DriverNotFound, "FTD2XX.DLL not found");
    EXPECT_EQ(fe.Finish(UpdateResult::DriverNotFound), kExitDriverNotFound);
    const std::vector<std::string> lines = Lines(err.str());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "tolvex-flash: driver: libftd2xx.so: cannot open shared object file");
    EXPECT_EQ(lines[1], "FTD2XX.DLL not found");
    EXPECT_EQ(lines[2], "tolvex-flash: HINT-DRIVER");
}

TEST_F(FrontEndTest, QuietRunsPrintNoDiagnostics) {
    FlashFrontEnd fe = Make(false, false);
    fe.OnDriverBound("/x/libftd2xx.so");
    fe.OnConnectFailed(ConnectStep::CreateFile);
    fe.OnHardwareId("m:9.1234");
    fe.OnTransferProgress({1, 1, 4, 3});
    fe.Diagnostic("anything");
    EXPECT_EQ(err.str(), "");
}

TEST_F(FrontEndTest, OnATerminalDiagnosticsDoNotLeaveFragmentsOfTheProgressLine) {
    FlashFrontEnd fe = Make(true, true);
    fe.SetStatusText("Transmitting...");
    fe.SetStatusVisible(true);
    const std::size_t before = out.str().size();
    fe.OnHardwareId("m:9.1234");
    // The drawn line is blanked out ("\r" + spaces + "\r") and drawn again after the note.
    const std::string after = out.str().substr(before);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after.front(), '\r');
    EXPECT_NE(after.find(" \r"), std::string::npos);
    EXPECT_NE(after.find("Transmitting..."), std::string::npos);
}

}  // namespace
}  // namespace tolvex::cli
