#include "bootloader/bootloader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/tests/fake_d2xx.h"
#include "tests/support/temp_folder.h"

namespace tolvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeD2xx;

constexpr std::uint8_t kNak = 0x15;

// A fresh fake device with an open link; BlockSize and TagWithBlockIndex are process-wide,
// so every test starts from their start-up values and leaves them so.
class BootloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BlockSize = kBlockSize;
        TagWithBlockIndex = true;
        fake = &FakeD2xx::Reset();
        ASSERT_TRUE(ConnectHardware(FakeD2xx::Table(), link));
    }
    void TearDown() override {
        link.Close();
        BlockSize = kBlockSize;
        TagWithBlockIndex = true;
    }

    // The frames or commands written, one entry per write call (failed ones included).
    std::vector<Bytes> WriteCalls() const {
        std::vector<Bytes> out;
        for (const auto& call : fake->CallsOf("FT_W32_WriteFile")) {
            out.push_back(call.bytes);
        }
        return out;
    }

    // The read and write total timeouts of every SetCommTimeouts call; the other three
    // values must be 0.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> TimeoutsSet() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& call : fake->CallsOf("FT_W32_SetCommTimeouts")) {
            const D2xxTimeouts& t = call.timeouts.value();
            EXPECT_EQ(t.readInterval, 0u);
            EXPECT_EQ(t.readTotalMultiplier, 0u);
            EXPECT_EQ(t.writeTotalMultiplier, 0u);
            out.emplace_back(t.readTotalConstant, t.writeTotalConstant);
        }
        return out;
    }

    // An accepted update file whose payload is `body` followed by the trailer, opened and
    // positioned at the payload.
    UpdateFile& OpenFile(Bytes body) {
        static int serial = 0;
        body.insert(body.end(), kUpdateTrailer.begin(), kUpdateTrailer.end());
        payload = body;
        const std::string path = temp.Write("block-" + std::to_string(++serial) + ".tvu",
                                            {kStandardHeader, testing::AsChars(body)});
        EXPECT_TRUE(file.Open(path));
        return file;
    }

    testing::TempFolder temp;  // outlives the file opened in it
    FakeD2xx* fake = nullptr;
    Link link;
    UpdateFile file;
    Bytes payload;  // the payload of the last file opened, trailer included
};

std::uint32_t Sum(const Bytes& bytes, std::size_t from = 0, std::size_t n = SIZE_MAX) {
    const auto end = n == SIZE_MAX ? bytes.end() : bytes.begin() + static_cast<long>(from + n);
    return std::accumulate(bytes.begin() + static_cast<long>(from), end, std::uint32_t{0});
}

// --- Identify --------------------------------------------------------------------------------

struct IdentifyCase {
    const char* name;
    std::vector<Bytes> replies;
    const char* failCall;  // nullptr: no driver call fails
    int failNth;
    bool ok;
    const char* id;
    int requests;  // "XX" writes attempted
};

void PrintTo(const IdentifyCase& c, std::ostream* os) {
    *os << c.name;
}

class IdentifyTest : public BootloaderTest, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(IdentifyTest, Result) {
    const IdentifyCase& c = GetParam();
    for (const auto& reply : c.replies) {
        fake->QueueReply(reply);
    }
    if (c.failCall != nullptr) {
        fake->FailCall(c.failCall, c.failNth);
    }
    std::string id = "stale";
    EXPECT_EQ(ReadHardwareId(link, id), c.ok);
    if (c.ok) {
        EXPECT_EQ(id, c.id);
    }
    const auto writes = WriteCalls();
    EXPECT_EQ(static_cast<int>(writes.size()), c.requests);
    for (const auto& w : writes) {
        EXPECT_EQ(w, (Bytes{'X', 'X'}));
    }
    if (c.failCall == nullptr || std::string(c.failCall) != "FT_W32_SetCommTimeouts") {
        EXPECT_EQ(TimeoutsSet(),
                  (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{250, 250}}));
    }
}

const Bytes kStandardId = {'m', ':', '9', '.', '0', '2', '3', '1'};
const Bytes kSevenBytes = {'m', ':', '9', '.', '0', '2', '3'};

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentifyTest,
    ::testing::Values(
        IdentifyCase{"EightBytes", {kStandardId}, nullptr, 0, true, "m:9.0231", 1},
        IdentifyCase{"ThreeShortAnswersGiveEmptyId",
                     {kSevenBytes, kSevenBytes, kSevenBytes},
                     nullptr,
                     0,
                     true,
                     "",
                     3},
        IdentifyCase{"NoAnswerAtAllGivesEmptyId", {}, nullptr, 0, true, "", 3},
        IdentifyCase{"ThirdAttemptAnswers",
                     {kSevenBytes, kSevenBytes, kStandardId},
                     nullptr,
                     0,
                     true,
                     "m:9.0231",
                     3},
        IdentifyCase{
            "NulEndsTheId", {{'M', ':', '9', 0, 'a', 'b', 'c', 'd'}}, nullptr, 0, true, "M:9", 1},
        IdentifyCase{"FirstWriteFails", {kStandardId}, "FT_W32_WriteFile", 1, false, "", 1},
        IdentifyCase{
            "SecondWriteFails", {kSevenBytes, kStandardId}, "FT_W32_WriteFile", 2, false, "", 2},
        IdentifyCase{"ReadFails", {kStandardId}, "FT_W32_ReadFile", 1, false, "", 1},
        IdentifyCase{"TimeoutsFail", {kStandardId}, "FT_W32_SetCommTimeouts", 1, false, "", 0}),
    [](const ::testing::TestParamInfo<IdentifyCase>& param) { return param.param.name; });

// --- Erase -----------------------------------------------------------------------------------

struct EraseCase {
    const char* name;
    Bytes replies;
    bool tagBefore;
    bool ok;
    bool tagAfter;
};

void PrintTo(const EraseCase& c, std::ostream* os) {
    *os << c.name;
}

class EraseTest : public BootloaderTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, ResultAndTagFlag) {
    const EraseCase& c = GetParam();
    TagWithBlockIndex = c.tagBefore;
    if (!c.replies.empty()) {
        fake->QueueReply(c.replies);
    }
    EXPECT_EQ(EraseHardware(link), c.ok);
    EXPECT_EQ(TagWithBlockIndex, c.tagAfter);
    EXPECT_EQ(WriteCalls(), std::vector<Bytes>{(Bytes{'X', 'E'})});
    EXPECT_EQ(TimeoutsSet(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3000, 500}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EraseTest,
    ::testing::Values(EraseCase{"BusyBusyAck", {0x16, 0x16, 0x06}, true, true, false},
                      EraseCase{"BusyEraseDone", {0x16, 0x4E}, true, true, true},
                      EraseCase{"EraseDoneNeverSetsTheFlagAgain", {0x4E}, false, true, false},
                      EraseCase{"ManyBusyBytes", Bytes(500, 0x16), true, false, true},
                      EraseCase{"Nak", {kNak}, true, false, true},
                      EraseCase{"Silence", {}, true, false, true},
                      EraseCase{"BusyThenNak", {0x16, kNak}, true, false, true},
                      EraseCase{"BusyThenSilence", {0x16}, true, false, true}),
    [](const ::testing::TestParamInfo<EraseCase>& param) { return param.param.name; });

TEST_F(EraseTest, ManyBusyBytesThenAckSucceeds) {
    Bytes replies(500, 0x16);
    replies.push_back(0x06);
    fake->QueueReply(replies);
    EXPECT_TRUE(EraseHardware(link));
    EXPECT_FALSE(TagWithBlockIndex);
}

TEST_F(EraseTest, FailedWriteFails) {
    fake->QueueReply(Bytes{0x06});
    fake->FailCall("FT_W32_WriteFile");
    EXPECT_FALSE(EraseHardware(link));
    EXPECT_TRUE(TagWithBlockIndex);
    EXPECT_EQ(fake->CountCalls("FT_W32_ReadFile"), 0);
}

// --- Transmit --------------------------------------------------------------------------------

using TransmitTest = BootloaderTest;

TEST_F(TransmitTest, FrameLayout) {
    OpenFile({1, 2, 3});
    fake->QueueReply(Bytes{0x06});
    std::uint32_t runningSum = 100;
    TransmitInfo info;
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 7, &info), kTransmitLast);
    const std::uint32_t sum = 6 + 0x1FE;
    EXPECT_EQ(WriteCalls(), std::vector<Bytes>{(Bytes{'X', 'W', 7, 1, 2, 3, 0x5A, 0xA5, 0x5A, 0xA5,
                                                      static_cast<std::uint8_t>(sum), 7})});
    EXPECT_EQ(runningSum, 100 + sum);
    EXPECT_EQ(info.payloadBytes, 7u);
    EXPECT_EQ(info.attempts, 1u);
}

struct TagCase {
    bool tagWithIndex;
    std::uint32_t blockIndex;
    std::uint8_t tag;
};

void PrintTo(const TagCase& c, std::ostream* os) {
    *os << (c.tagWithIndex ? "index tag, block " : "sum tag, block ") << c.blockIndex;
}

class TransmitTagTest : public BootloaderTest, public ::testing::WithParamInterface<TagCase> {};

TEST_P(TransmitTagTest, LastFrameByte) {
    // 16 x 0xFF + 70 + the trailer sums to 0x1234.
    Bytes body(16, 0xFF);
    body.push_back(70);
    OpenFile(body);
    ASSERT_EQ(Sum(payload), 0x1234u);
    TagWithBlockIndex = GetParam().tagWithIndex;
    fake->QueueReply(Bytes{0x06});
    std::uint32_t runningSum = 0;
    EXPECT_EQ(TransmitBlock(file, link, runningSum, GetParam().blockIndex), kTransmitLast);
    const Bytes frame = WriteCalls().at(0);
    EXPECT_EQ(frame[frame.size() - 2], 0x34);
    EXPECT_EQ(frame.back(), GetParam().tag);
    EXPECT_EQ(runningSum, 0x1234u);
}

INSTANTIATE_TEST_SUITE_P(Cases, TransmitTagTest,
                         ::testing::Values(TagCase{true, 0, 0x00}, TagCase{true, 1, 0x01},
                                           TagCase{true, 255, 0xFF}, TagCase{true, 256, 0x00},
                                           TagCase{true, 258, 0x02}, TagCase{false, 0, 0x12},
                                           TagCase{false, 256, 0x12}));

TEST_F(TransmitTest, ExactMultipleOfBlockSizeEndsWithAnEmptyCall) {
    Bytes body(2 * kBlockSize - kUpdateTrailer.size());
    std::iota(body.begin(), body.end(), std::uint8_t{0});
    OpenFile(body);
    fake->QueueReply(Bytes{0x06});
    fake->QueueReply(Bytes{0x06});
    std::uint32_t runningSum = 0;
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 0), kTransmitMore);
    EXPECT_EQ(Sum(payload, 0, kBlockSize), runningSum);
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 1), kTransmitMore);
    EXPECT_EQ(runningSum, Sum(payload));
    TransmitInfo info{99, 99};
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 2, &info), kTransmitLast);
    EXPECT_EQ(info.payloadBytes, 0u);
    EXPECT_EQ(info.attempts, 0u);
    const auto writes = WriteCalls();
    ASSERT_EQ(writes.size(), 2u);  // nothing sent for the empty read
    EXPECT_EQ(writes[0].size(), kBlockSize + 5);
    EXPECT_EQ(writes[0][2], kBlockSize);
    EXPECT_EQ(writes[1].back(), 1);  // the block index tag
}

// Each attempt's outcome: the reply to queue (nullopt: none arrives), or a failed write.
struct RetryCase {
    const char* name;
    std::vector<std::optional<std::uint8_t>> replies;
    bool failWrites;
    int result;
    std::uint32_t attempts;
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

class TransmitRetryTest : public BootloaderTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(TransmitRetryTest, SendsTheSameFrameUpToThreeTimes) {
    const RetryCase& c = GetParam();
    OpenFile({9, 8, 7});
    // The fake answers each write from this script, so a silent attempt stays silent.
    std::size_t next = 0;
    fake->onWrite = [&](FakeD2xx& device, const Bytes&) {
        if (next < c.replies.size() && c.replies[next].has_value()) {
            device.QueueReply(Bytes{*c.replies[next]});
        }
        ++next;
    };
    if (c.failWrites) {
        fake->FailCall("FT_W32_WriteFile");
    }
    std::uint32_t runningSum = 0x10;
    TransmitInfo info;
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 0, &info), c.result);
    EXPECT_EQ(info.attempts, c.attempts);
    const auto writes = WriteCalls();
    ASSERT_EQ(writes.size(), c.attempts);
    for (const auto& frame : writes) {
        EXPECT_EQ(frame, writes.front());
    }
    EXPECT_EQ(runningSum, c.result == kTransmitFailed ? 0x10u : 0x10u + Sum(payload));
}

const std::optional<std::uint8_t> kNoReply;

INSTANTIATE_TEST_SUITE_P(
    Cases, TransmitRetryTest,
    ::testing::Values(RetryCase{"AckedFirstTime", {0x06}, false, kTransmitLast, 1},
                      RetryCase{"AckedThirdTime", {kNak, kNoReply, 0x06}, false, kTransmitLast, 3},
                      RetryCase{"NeverAcked", {kNak, kNak, kNak}, false, kTransmitFailed, 3},
                      RetryCase{"NeverAnswered", {}, false, kTransmitFailed, 3},
                      RetryCase{"OtherByteIsNoAck", {0x4E, 0x16, 0x00}, false, kTransmitFailed, 3},
                      RetryCase{"WritesFail", {}, true, kTransmitFailed, 3}),
    [](const ::testing::TestParamInfo<RetryCase>& param) { return param.param.name; });

TEST_F(TransmitTest, NeverSetsTimeoutsItself) {
    OpenFile({1});
    fake->QueueReply(Bytes{0x06});
    std::uint32_t runningSum = 0;
    TransmitBlock(file, link, runningSum, 0);
    EXPECT_EQ(fake->CountCalls("FT_W32_SetCommTimeouts"), 0);
}

TEST_F(TransmitTest, BlockSizeTheLengthByteCannotHoldSendsNothing) {
    OpenFile(Bytes(400, 1));
    BlockSize = 300;
    std::uint32_t runningSum = 0;
    EXPECT_EQ(TransmitBlock(file, link, runningSum, 0), kTransmitFailed);
    EXPECT_TRUE(WriteCalls().empty());
    EXPECT_EQ(runningSum, 0u);
}

// --- Verify ----------------------------------------------------------------------------------

struct VerifyCase {
    const char* name;
    Bytes replies;
    bool ok;
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyTest : public BootloaderTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyTest, SendsLowSixteenBitsLowByteFirst) {
    if (!GetParam().replies.empty()) {
        fake->QueueReply(GetParam().replies);
    }
    EXPECT_EQ(VerifyHardware(link, 0x0123ABCDu), GetParam().ok);
    EXPECT_EQ(WriteCalls(), std::vector<Bytes>{(Bytes{'X', 'V', 0xCD, 0xAB})});
    EXPECT_EQ(TimeoutsSet(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{120000, 500}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, VerifyTest,
                         ::testing::Values(VerifyCase{"Ack", {0x06}, true},
                                           VerifyCase{"Nak", {kNak}, false},
                                           VerifyCase{"Silence", {}, false},
                                           VerifyCase{"EraseDoneIsNoAck", {0x4E}, false}),
                         [](const ::testing::TestParamInfo<VerifyCase>& param) {
                             return param.param.name;
                         });

TEST_F(VerifyTest, TimeoutFailureSendsNothing) {
    fake->FailCall("FT_W32_SetCommTimeouts");
    EXPECT_FALSE(VerifyHardware(link, 1));
    EXPECT_TRUE(WriteCalls().empty());
}

}  // namespace
}  // namespace tolvex
