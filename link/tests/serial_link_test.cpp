#include "link/serial_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/tests/fake_d2xx.h"

namespace tolvex {
namespace {

using testing::FakeCall;
using testing::FakeD2xx;
using Bytes = std::vector<std::uint8_t>;

class SerialLink : public ::testing::Test {
  protected:
    FakeD2xx& fake = FakeD2xx::Reset();
    const D2xxEntryPoints& ft = FakeD2xx::Table();

    // A link through the fake, opened the normal way.
    Link Connected() {
        Link link;
        EXPECT_TRUE(ConnectHardware(ft, link));
        return link;
    }
};

// --- Connecting --------------------------------------------------------------------------------

TEST_F(SerialLink, ConnectCallsTheDriverInOrderWithExactArguments) {
    fake.SetDevices({0x00001234});
    Link link;
    ConnectStep step = ConnectStep::ListDevices;
    ASSERT_TRUE(ConnectHardware(ft, link, &step));
    EXPECT_EQ(step, ConnectStep::None);
    ASSERT_TRUE(link.IsOpen());
    ASSERT_EQ(fake.OpenedHandles().size(), 1u);
    const D2xxHandle handle = fake.OpenedHandles()[0];
    EXPECT_EQ(link.Handle(), handle);

    const std::vector<std::string> expected = {"FT_ListDevices",      "FT_W32_CreateFile",
                                               "FT_W32_SetupComm",    "FT_W32_GetCommState",
                                               "FT_W32_SetCommState", "FT_W32_SetCommMask"};
    EXPECT_EQ(fake.CallNames(), expected);

    const std::vector<FakeCall>& calls = fake.Calls();
    ASSERT_EQ(calls.size(), expected.size());
    // Device index 0, listed by index, asking for the location id.
    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{0, 0x40000004}));
    // Opened by that location id, read/write, exclusive, no security, open existing,
    // overlapped + normal + by location, no template.
    EXPECT_EQ(calls[1].args,
              (std::vector<std::uint64_t>{0x1234, 0xC0000000, 0, 0, 3, 0x40000084, 0}));
    EXPECT_EQ(fake.LocationOf(handle), 0x00001234u);
    EXPECT_EQ(calls[2].handle, handle);
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{128, 256}));
    EXPECT_EQ(calls[3].handle, handle);
    EXPECT_EQ(calls[4].handle, handle);
    EXPECT_EQ(calls[5].handle, handle);
    EXPECT_EQ(calls[5].args, (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(fake.TotalCloses(), 0);
}

TEST_F(SerialLink, LineSettingsChangeOnlyTheListedFields) {
    const D2xxDcb before = fake.DeviceDcb();
    Link link = Connected();
    const std::vector<FakeCall> set = fake.CallsOf("FT_W32_SetCommState");
    ASSERT_EQ(set.size(), 1u);
    ASSERT_TRUE(set[0].dcb.has_value());
    const D2xxDcb& after = *set[0].dcb;

    EXPECT_EQ(after.baudRate, 500000u);
    EXPECT_EQ(after.byteSize, 8);
    EXPECT_EQ(after.parity, 0);
    EXPECT_EQ(after.stopBits, 0);
    const std::uint32_t cleared = (1u << 1) | (1u << 8) | (1u << 9) | (1u << 11);
    EXPECT_EQ(after.flags, before.flags & ~cleared);

    // Every other byte is as the driver reported it.
    D2xxDcb expected = before;
    expected.baudRate = 500000;
    expected.flags = before.flags & ~cleared;
    expected.byteSize = 8;
    expected.parity = 0;
    expected.stopBits = 0;
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof expected), 0);
}

TEST_F(SerialLink, FlagsNotSetStayClear) {
    fake.DeviceDcb().flags = kDcbBinary;
    Link link = Connected();
    EXPECT_EQ(fake.CallsOf("FT_W32_SetCommState").at(0).dcb->flags, kDcbBinary);
}

TEST_F(SerialLink, NoDeviceOpensNothing) {
    fake.SetDevices({});
    Link link;
    ConnectStep step = ConnectStep::None;
    EXPECT_FALSE(ConnectHardware(ft, link, &step));
    EXPECT_EQ(step, ConnectStep::ListDevices);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(fake.CallNames(), std::vector<std::string>{"FT_ListDevices"});
}

TEST_F(SerialLink, ListFailureOpensNothing) {
    fake.FailCall("FT_ListDevices", 0, 18);
    Link link;
    ConnectStep step = ConnectStep::None;
    EXPECT_FALSE(ConnectHardware(ft, link, &step));
    EXPECT_EQ(step, ConnectStep::ListDevices);
    EXPECT_EQ(fake.CountCalls("FT_W32_CreateFile"), 0);
}

TEST_F(SerialLink, OpenFailureClosesNothing) {
    fake.FailCall("FT_W32_CreateFile");
    Link link;
    ConnectStep step = ConnectStep::None;
    EXPECT_FALSE(ConnectHardware(ft, link, &step));
    EXPECT_EQ(step, ConnectStep::CreateFile);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(fake.CallNames(), (std::vector<std::string>{"FT_ListDevices", "FT_W32_CreateFile"}));
    EXPECT_EQ(fake.TotalCloses(), 0);
}

TEST_F(SerialLink, OnlyTheFirstOfSeveralDevicesIsUsed) {
    fake.SetDevices({0x00000051, 0x00000052, 0x00000053});
    Link link = Connected();
    EXPECT_EQ(fake.CountCalls("FT_ListDevices"), 1);
    EXPECT_EQ(fake.CallsOf("FT_ListDevices")[0].args[0], 0u);
    ASSERT_EQ(fake.OpenedHandles().size(), 1u);
    EXPECT_EQ(fake.LocationOf(link.Handle()), 0x00000051u);
}

struct FailingStep {
    const char* function;
    ConnectStep step;
};

class ConnectFailure : public SerialLink, public ::testing::WithParamInterface<FailingStep> {};

// Once the handle exists, a failing step closes it exactly once and goes no further.
TEST_P(ConnectFailure, ClosesTheHandleExactlyOnce) {
    fake.FailCall(GetParam().function);
    Link link;
    ConnectStep step = ConnectStep::None;
    EXPECT_FALSE(ConnectHardware(ft, link, &step));
    EXPECT_EQ(step, GetParam().step);
    EXPECT_FALSE(link.IsOpen());

    ASSERT_EQ(fake.OpenedHandles().size(), 1u);
    const D2xxHandle handle = fake.OpenedHandles()[0];
    EXPECT_EQ(fake.CloseCount(handle), 1);
    EXPECT_EQ(fake.TotalCloses(), 1);
    const std::vector<std::string> names = fake.CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], GetParam().function);
    EXPECT_EQ(names.back(), "FT_W32_CloseHandle");

    // The failed link, destroyed or closed again, does not close a second time.
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(fake.CloseCount(handle), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Steps3To7, ConnectFailure,
    ::testing::Values(FailingStep{"FT_W32_SetupComm", ConnectStep::SetupComm},
                      FailingStep{"FT_W32_GetCommState", ConnectStep::GetCommState},
                      FailingStep{"FT_W32_SetCommState", ConnectStep::SetCommState},
                      FailingStep{"FT_W32_SetCommMask", ConnectStep::SetCommMask}),
    [](const auto& param) { return std::string(param.param.function).substr(7); });

TEST_F(SerialLink, ReconnectingClosesTheEarlierLinkFirst) {
    Link link = Connected();
    const D2xxHandle first = link.Handle();
    ASSERT_TRUE(ConnectHardware(ft, link));
    EXPECT_EQ(fake.CloseCount(first), 1);
    EXPECT_NE(link.Handle(), first);
}

// --- Closing -----------------------------------------------------------------------------------

TEST_F(SerialLink, CloseTwiceClosesOnce) {
    Link link = Connected();
    const D2xxHandle handle = link.Handle();
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(fake.CloseCount(handle), 1);
}

TEST_F(SerialLink, CloseReportsTheDriversResultAndStillCountsAsClosed) {
    fake.FailCall("FT_W32_CloseHandle");
    Link link = Connected();
    const D2xxHandle handle = link.Handle();
    EXPECT_FALSE(link.Close());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(fake.CloseCount(handle), 1);
}

TEST_F(SerialLink, DestructorClosesAnOpenLinkOnce) {
    D2xxHandle handle = nullptr;
    {
        Link link = Connected();
        handle = link.Handle();
    }
    EXPECT_EQ(fake.CloseCount(handle), 1);
}

TEST_F(SerialLink, MovingHandsOverTheHandle) {
    D2xxHandle handle = nullptr;
    {
        Link outer;
        {
            Link inner = Connected();
            handle = inner.Handle();
            outer = std::move(inner);
            EXPECT_FALSE(inner.IsOpen());  // NOLINT(bugprone-use-after-move)
        }
        EXPECT_EQ(fake.CloseCount(handle), 0);
        EXPECT_EQ(outer.Handle(), handle);
        Link moved(std::move(outer));
        EXPECT_TRUE(moved.IsOpen());
    }
    EXPECT_EQ(fake.CloseCount(handle), 1);
}

TEST_F(SerialLink, MoveAssignmentClosesTheLinkItReplaces) {
    Link first = Connected();
    Link second = Connected();
    const D2xxHandle replaced = first.Handle();
    first = std::move(second);
    EXPECT_EQ(fake.CloseCount(replaced), 1);
    EXPECT_TRUE(first.IsOpen());
}

// --- Timeouts and purge --------------------------------------------------------------------

TEST_F(SerialLink, TimeoutsSetOnlyTheTwoConstants) {
    Link link = Connected();
    ASSERT_TRUE(SetLinkTimeouts(link, 2000, 1000));
    const std::vector<FakeCall> calls = fake.CallsOf("FT_W32_SetCommTimeouts");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handle, link.Handle());
    const D2xxTimeouts& t = *calls[0].timeouts;
    EXPECT_EQ(t.readInterval, 0u);
    EXPECT_EQ(t.readTotalMultiplier, 0u);
    EXPECT_EQ(t.readTotalConstant, 2000u);
    EXPECT_EQ(t.writeTotalMultiplier, 0u);
    EXPECT_EQ(t.writeTotalConstant, 1000u);

    fake.FailCall("FT_W32_SetCommTimeouts");
    EXPECT_FALSE(SetLinkTimeouts(link, 250, 250));
}

TEST_F(SerialLink, PurgeClearsBothQueuesAndIgnoresTheResult) {
    Link link = Connected();
    fake.FailCall("FT_W32_PurgeComm");
    PurgeLink(link);
    const std::vector<FakeCall> calls = fake.CallsOf("FT_W32_PurgeComm");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handle, link.Handle());
    EXPECT_EQ(calls[0].args, std::vector<std::uint64_t>{12});
    EXPECT_TRUE(link.IsOpen());
}

TEST_F(SerialLink, ClosedLinkCallsNothing) {
    Link link;
    std::uint8_t byte = 0x55;
    EXPECT_FALSE(SetLinkTimeouts(link, 1, 1));
    EXPECT_FALSE(LinkWrite(link, &byte, 1));
    EXPECT_FALSE(LinkRead(link, &byte, 1).ok);
    PurgeLink(link);
    EXPECT_TRUE(fake.Calls().empty());
}

// --- Transfers ---------------------------------------------------------------------------------

struct Completion {
    const char* name;
    bool pending;
};

class Transfer : public SerialLink, public ::testing::WithParamInterface<Completion> {
  protected:
    void SetUp() override { link = Connected(); }
    Link link;
};

TEST_P(Transfer, WriteSendsAllBytesAsOneTransfer) {
    fake.SetPending(false, GetParam().pending);
    const Bytes frame = {'X', 'W', 0x00, 0xFA, 0x11, 0x22};
    ASSERT_TRUE(LinkWrite(link, frame.data(), static_cast<std::uint32_t>(frame.size())));
    EXPECT_EQ(fake.Written(), frame);
    ASSERT_EQ(fake.Writes().size(), 1u);

    const std::vector<FakeCall> writes = fake.CallsOf("FT_W32_WriteFile");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].handle, link.Handle());
    EXPECT_EQ(writes[0].args[0], frame.size());
    EXPECT_TRUE(writes[0].overlappedZeroed);
    if (GetParam().pending) {
        // The wait uses the same record the transfer started with, and blocks.
        const std::vector<FakeCall> waits = fake.CallsOf("FT_W32_GetOverlappedResult");
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_EQ(waits[0].args, (std::vector<std::uint64_t>{writes[0].args[1], 1}));
        EXPECT_EQ(fake.CountCalls("FT_W32_GetLastError"), 1);
    } else {
        EXPECT_EQ(fake.CountCalls("FT_W32_GetLastError"), 0);
        EXPECT_EQ(fake.CountCalls("FT_W32_GetOverlappedResult"), 0);
    }
}

TEST_P(Transfer, ShortWriteIsAFailure) {
    fake.SetPending(false, GetParam().pending);
    fake.LimitWrites(3);
    const Bytes frame = {1, 2, 3, 4, 5};
    EXPECT_FALSE(LinkWrite(link, frame.data(), 5));
}

TEST_P(Transfer, ReadReturnsWhatArrived) {
    fake.SetPending(GetParam().pending, false);
    fake.QueueReply("m:9.0102");
    Bytes buffer(8, 0);
    const LinkReadResult r = LinkRead(link, buffer.data(), 8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.count, 8u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "m:9.0102");
    const std::vector<FakeCall> reads = fake.CallsOf("FT_W32_ReadFile");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].args[0], 8u);
    EXPECT_TRUE(reads[0].overlappedZeroed);
    EXPECT_EQ(fake.CountCalls("FT_W32_GetOverlappedResult"), GetParam().pending ? 1 : 0);
}

// A reply cut short by the read timeout is not a driver failure; the caller judges the count.
TEST_P(Transfer, TimedOutReadIsShortButOk) {
    fake.SetPending(GetParam().pending, false);
    fake.QueueReply("m:9.010");
    Bytes buffer(8, 0);
    LinkReadResult r = LinkRead(link, buffer.data(), 8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.count, 7u);

    r = LinkRead(link, buffer.data(), 1);  // nothing at all arrives
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.count, 0u);
}

TEST_P(Transfer, EveryCallHasItsOwnZeroedRecord) {
    fake.SetPending(GetParam().pending, GetParam().pending);
    fake.QueueReply({0x06});
    fake.QueueReply({0x06});
    std::uint8_t byte = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(LinkWrite(link, &byte, 1));
        ASSERT_TRUE(LinkRead(link, &byte, 1).ok);
    }
    for (const char* name : {"FT_W32_WriteFile", "FT_W32_ReadFile"}) {
        for (const FakeCall& call : fake.CallsOf(name)) {
            EXPECT_TRUE(call.overlappedZeroed) << name;
        }
    }
}

TEST_P(Transfer, OtherErrorCodeFailsWithoutWaiting) {
    fake.SetPending(GetParam().pending, GetParam().pending);
    fake.FailCall("FT_W32_WriteFile", 0, 6);
    fake.FailCall("FT_W32_ReadFile", 0, 998);
    std::uint8_t byte = 0;
    EXPECT_FALSE(LinkWrite(link, &byte, 1));
    const LinkReadResult r = LinkRead(link, &byte, 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(fake.CountCalls("FT_W32_GetLastError"), 2);
    EXPECT_EQ(fake.CountCalls("FT_W32_GetOverlappedResult"), 0);
    EXPECT_EQ(fake.CountCalls("FT_W32_WriteFile"), 1);  // no retry at this level
}

INSTANTIATE_TEST_SUITE_P(Completions, Transfer,
                         ::testing::Values(Completion{"Immediate", false},
                                           Completion{"Pending", true}),
                         [](const auto& param) { return std::string(param.param.name); });

// Other layers' tests fail one particular call; the fake must count per function.
TEST_F(SerialLink, FakeFailsOnlyTheNthCall) {
    Link link = Connected();
    fake.FailCall("FT_W32_ReadFile", 2);
    fake.QueueReply({0x01});
    fake.QueueReply({0x02});
    std::uint8_t byte = 0;
    EXPECT_TRUE(LinkRead(link, &byte, 1).ok);
    EXPECT_EQ(byte, 0x01);
    EXPECT_FALSE(LinkRead(link, &byte, 1).ok);
    EXPECT_TRUE(LinkRead(link, &byte, 1).ok);
    EXPECT_EQ(byte, 0x02);
}

TEST_F(SerialLink, PendingTransferThatFailsIsAFailure) {
    Link link = Connected();
    fake.SetPending(true, true);
    fake.FailCall("FT_W32_GetOverlappedResult");
    fake.QueueReply({0x06});
    std::uint8_t byte = 0x42;
    EXPECT_FALSE(LinkWrite(link, &byte, 1));
    EXPECT_FALSE(LinkRead(link, &byte, 1).ok);
    EXPECT_TRUE(fake.Written().empty());
}

}  // namespace
}  // namespace tolvex
