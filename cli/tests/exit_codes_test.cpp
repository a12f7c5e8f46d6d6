#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/exit_codes.h"

namespace tolvex::cli {
namespace {

struct ExitRow {
    UpdateResult result;
    int code;
    const char* message;
};

// Scripts branch on these codes and the messages are printed verbatim: both are fixed.
constexpr ExitRow kExitTable[] = {
    {UpdateResult::Ok, 0, "Hardware updated correctly!"},
    {UpdateResult::DriverNotFound, 10, "FTD2XX.DLL not found"},
    {UpdateResult::DriverInterface, 11, "Error interfacing FTD2XX.DLL"},
    {UpdateResult::FileNotReadable, 12, "File not readable!"},
    {UpdateResult::ConnectFailed, 13, "Unable to connect to the hardware!"},
    {UpdateResult::UnknownHardware, 14, "Unknown hardware!"},
    {UpdateResult::EraseFailed, 15, "Error on erasing the hardware!"},
    {UpdateResult::TransmitFailed, 16, "Error on transmitting data to hardware!"},
    {UpdateResult::VerifyFailed, 17, "Error on verifying the hardware!"},
    {UpdateResult::CloseFailed, 18, "Error on closing USB!"},
    {UpdateResult::Stopped, 130, ""},
};

TEST(ExitCodes, EachResultHasItsFixedCodeAndMessage) {
    std::set<int> seen;
    for (const ExitRow& row : kExitTable) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(ExitCodeFor(row.result), row.code);
        EXPECT_EQ(UpdateMessage(row.result), row.message);
        EXPECT_TRUE(seen.insert(row.code).second) << "code " << row.code << " used twice";
    }
}

TEST(ExitCodes, AValueOutsideTheEnumerationIsNeverSuccess) {
    EXPECT_NE(ExitCodeFor(static_cast<UpdateResult>(99)), kExitOk);
}

}  // namespace
}  // namespace tolvex::cli
