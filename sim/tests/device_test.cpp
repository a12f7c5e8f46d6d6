// The emulated device as the program meets it: identification, the bootloader's checks of
// every frame and of the verify sum, the line settings it needs, the faults a scenario
// scripts, both overlapped paths and the FTDI chip's delivery model. All at time scale 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/tests/sim_host.h"

namespace tolvex::sim {
namespace {

using testing::Frame;
using testing::Host;
using testing::Sum;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Payload(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 37);
    }
    return bytes;
}

// --- Identify --------------------------------------------------------------------------------

TEST(DeviceTest, IdentifyAnswersTheModelsIdentifier) {
    const struct {
        const char* keys;
        std::string expected;
    } cases[] = {
        {"", "m:9.0231"},
        {"model=pro", "M:9.0231"},
        {"id=Z:1.", "Z:1.    "},            // short: padded with blanks to 8 bytes
        {"id=m:9.0231-extra", "m:9.0231"},  // long: cut to 8 bytes
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open()) << c.keys;
        ASSERT_TRUE(host.Write(Bytes("XX")));
        EXPECT_EQ(host.Read(8), Bytes(c.expected)) << c.keys;
        EXPECT_EQ(Inspect().identifyCount, 1u);
    }
}

TEST(DeviceTest, IdentifyShortAnswersSevenBytesKTimes) {
    Host host("identify_short=2");
    ASSERT_TRUE(host.Open());
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(host.Write(Bytes("XX")));
        EXPECT_EQ(host.Read(8).size(), attempt < 2 ? 7u : 8u) << attempt;
    }
}

// --- Line settings ---------------------------------------------------------------------------

TEST(DeviceTest, TheDeviceHearsOnlyTheLineItExpects) {
    const struct {
        const char* what;
        void (*spoil)(D2xxDcb&);
    } cases[] = {
        {"as expected", [](D2xxDcb&) {}},
        {"115200 baud", [](D2xxDcb& d) { d.baudRate = 115200; }},
        {"7 data bits", [](D2xxDcb& d) { d.byteSize = 7; }},
        {"odd parity", [](D2xxDcb& d) { d.parity = 1; }},
        {"two stop bits", [](D2xxDcb& d) { d.stopBits = 2; }},
        {"XON/XOFF output", [](D2xxDcb& d) { d.flags |= kDcbOutX; }},
        {"XON/XOFF input", [](D2xxDcb& d) { d.flags |= kDcbInX; }},
    };
    for (const auto& c : cases) {
        Host host("");
        ASSERT_TRUE(host.Open());
        D2xxDcb dcb{};
        ASSERT_TRUE(host.ft().FT_W32_GetCommState(host.handle(), &dcb));
        c.spoil(dcb);
        ASSERT_TRUE(host.ft().FT_W32_SetCommState(host.handle(), &dcb));
        ASSERT_TRUE(host.Write(Bytes("XX")));
        const bool hears = std::string(c.what) == "as expected";
        EXPECT_EQ(host.Read(8).size(), hears ? 8u : 0u) << c.what;
        EXPECT_EQ(Inspect().lineOk, hears) << c.what;
    }
}

TEST(DeviceTest, UntilTheLineIsSetTheDeviceHearsNothing) {
    Host host("");
    ASSERT_TRUE(host.Open());
    // Put back the line the device reported when opened.
    D2xxDcb initial = Inspect().initialDcb;
    ASSERT_TRUE(host.ft().FT_W32_SetCommState(host.handle(), &initial));
    ASSERT_TRUE(host.Write(Bytes("XX")));
    EXPECT_TRUE(host.Read(8).empty());
    EXPECT_EQ(Inspect().identifyCount, 0u);
    EXPECT_EQ(Inspect().hostBytes, Bytes("XX"));  // the host's bytes are recorded all the same
}

// --- Erase -----------------------------------------------------------------------------------

TEST(DeviceTest, EraseKeepsAliveThenEndsPerGeneration) {
    const struct {
        const char* keys;
        std::vector<std::uint8_t> replies;
    } cases[] = {
        {"erase_ms=1500;keepalive_ms=400", {0x16, 0x16, 0x16, 0x4E}},
        {"generation=B;erase_ms=1500;keepalive_ms=400", {0x16, 0x16, 0x16, 0x06}},
        {"erase=nak;erase_ms=900;keepalive_ms=400", {0x16, 0x16, 0x15}},
        {"erase=silent", {}},
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open(0, 3000, 500));
        ASSERT_TRUE(host.Write(Bytes("XE")));
        std::vector<std::uint8_t> replies;
        for (int b = host.Reply(); b >= 0; b = host.Reply()) {
            replies.push_back(static_cast<std::uint8_t>(b));
        }
        EXPECT_EQ(replies, c.replies) << c.keys;
        EXPECT_EQ(Inspect().eraseCount, 1u);
    }
}

TEST(DeviceTest, EraseClearsTheImageAndRestartsTheBlockIndex) {
    Host host("erase_ms=10");
    ASSERT_TRUE(host.Open(0, 3000, 500));
    ASSERT_TRUE(host.Write(Frame({1, 2, 3}, 0)));
    ASSERT_EQ(host.Reply(), 0x06);
    ASSERT_TRUE(host.Write(Bytes("XE")));
    ASSERT_EQ(host.Reply(), 0x4E);
    EXPECT_TRUE(Inspect().flash.empty());
    ASSERT_TRUE(host.Write(Frame({4, 5}, 0)));  // index 0 again
    EXPECT_EQ(host.Reply(), 0x06);
    EXPECT_EQ(Inspect().flash, (std::vector<std::uint8_t>{4, 5}));
}

// --- Transmit --------------------------------------------------------------------------------

TEST(DeviceTest, GoodFramesAreAckedAndLandInTheImageInOrder) {
    Host host("");
    ASSERT_TRUE(host.Open(0, 2000, 1000));
    const auto first = Payload(250, 1);
    const auto second = Payload(17, 9);
    ASSERT_TRUE(host.Write(Frame(first, 0)));
    EXPECT_EQ(host.Reply(), 0x06);
    ASSERT_TRUE(host.Write(Frame(second, 1)));
    EXPECT_EQ(host.Reply(), 0x06);

    const Snapshot seen = Inspect();
    std::vector<std::uint8_t> image = first;
    image.insert(image.end(), second.begin(), second.end());
    EXPECT_EQ(seen.flash, image);
    EXPECT_EQ(seen.deviceSum, Sum(image));
    ASSERT_EQ(seen.frames.size(), 2u);
    EXPECT_EQ(seen.frames[0].bytes, Frame(first, 0));
    EXPECT_TRUE(seen.frames[1].acked);
}

TEST(DeviceTest, TheTagTheDeviceExpectsFollowsGenerationOrOverride) {
    // The second frame (index 1), built so that its index tag and its sum-high tag differ.
    const std::vector<std::uint8_t> payload(0x20, 0xFF);  // sum 0x1FE0: high byte 0x1F
    const std::uint8_t indexTag = 0x01;
    const std::uint8_t sumTag = 0x1F;
    const struct {
        const char* keys;
        std::uint8_t tag;
        bool acked;
    } cases[] = {
        {"generation=A", indexTag, true},
        {"generation=A", sumTag, false},
        {"generation=B", sumTag, true},
        {"generation=B", indexTag, false},
        {"generation=A;tag=sum", sumTag, true},
        {"generation=A;tag=sum", indexTag, false},
        {"generation=B;tag=index", indexTag, true},
        {"tag=any", 0x77, true},
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open(0, 2000, 1000));
        // Block 0 with a sum below 0x100: its tag is 0x00 under every rule.
        ASSERT_TRUE(host.Write(Frame({0x10}, 0x00)));
        ASSERT_EQ(host.Reply(), 0x06) << c.keys;
        ASSERT_TRUE(host.Write(Frame(payload, c.tag)));
        EXPECT_EQ(host.Reply(), c.acked ? 0x06 : 0x15) << c.keys << " tag " << int{c.tag};
        EXPECT_EQ(Inspect().flash.size(), c.acked ? 1u + payload.size() : 1u) << c.keys;
    }
}

TEST(DeviceTest, ABadFrameIsNakedRecordedAndLeavesTheImageAlone) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> frame;
    } cases[] = {
        {"sum low byte off by one", Frame({1, 2, 3}, 0, 1)},
        {"wrong tag", Frame({1, 2, 3}, 5)},
        {"length 0", {0x58, 0x57, 0x00, 0x00, 0x00}},
        {"length 251", {0x58, 0x57, 251, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        Host host("");
        ASSERT_TRUE(host.Open(0, 2000, 1000));
        ASSERT_TRUE(host.Write(c.frame));
        EXPECT_EQ(host.Reply(), 0x15) << c.what;
        EXPECT_EQ(host.Reply(), -1) << c.what << ": exactly one answer";
        const Snapshot seen = Inspect();
        ASSERT_EQ(seen.frames.size(), 1u) << c.what;
        EXPECT_FALSE(seen.frames[0].acked);
        EXPECT_TRUE(seen.flash.empty());
        // The same block sent correctly afterwards goes through.
        ASSERT_TRUE(host.Write(Frame({1, 2, 3}, 0)));
        EXPECT_EQ(host.Reply(), 0x06) << c.what;
    }
}

TEST(DeviceTest, ScriptedNaksOfOneBlock) {
    const struct {
        const char* keys;
        int acceptedOnAttempt;  // 0: never within 5 attempts
    } cases[] = {
        {"nak_block=1", 2},
        {"nak_block=1;nak_times=3", 4},
        {"nak_block=1;nak_times=always", 0},
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open(0, 2000, 1000));
        ASSERT_TRUE(host.Write(Frame({7}, 0)));
        ASSERT_EQ(host.Reply(), 0x06);
        int accepted = 0;
        for (int attempt = 1; attempt <= 5 && accepted == 0; ++attempt) {
            ASSERT_TRUE(host.Write(Frame({8}, 1)));
            if (host.Reply() == 0x06) {
                accepted = attempt;
            }
        }
        EXPECT_EQ(accepted, c.acceptedOnAttempt) << c.keys;
    }
}

// --- Verify ----------------------------------------------------------------------------------

TEST(DeviceTest, VerifyComparesTheLow16BitsOfTheSumLowByteFirst) {
    // 300 bytes of 0xFF: sum 0x12AD4, sent as D4 2A.
    const std::vector<std::uint8_t> block(250, 0xFF);
    const std::vector<std::uint8_t> rest(50, 0xFF);
    const struct {
        const char* keys;
        std::vector<std::uint8_t> command;
        int reply;
    } cases[] = {
        {"", {0x58, 0x56, 0xD4, 0x2A}, 0x06},
        {"", {0x58, 0x56, 0x2A, 0xD4}, 0x15},  // bytes swapped
        {"", {0x58, 0x56, 0xD5, 0x2A}, 0x15},
        {"verify=nak", {0x58, 0x56, 0xD4, 0x2A}, 0x15},
        {"verify=silent", {0x58, 0x56, 0xD4, 0x2A}, -1},
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open(0, 2000, 1000));
        ASSERT_TRUE(host.Write(Frame(block, 0)));
        ASSERT_EQ(host.Reply(), 0x06);
        ASSERT_TRUE(host.Write(Frame(rest, 1)));
        ASSERT_EQ(host.Reply(), 0x06);
        ASSERT_EQ(Inspect().deviceSum, 0x12AD4u);
        ASSERT_TRUE(host.SetTimeouts(120000, 500));
        ASSERT_TRUE(host.Write(c.command));
        EXPECT_EQ(host.Reply(), c.reply) << c.keys;
        EXPECT_EQ(Inspect().verifyCount, 1u);
    }
}

TEST(DeviceTest, UnknownCommandsAreIgnored) {
    Host host("");
    ASSERT_TRUE(host.Open());
    ASSERT_TRUE(host.Write({0x00, 'X', 'Q', 'A', 'X', 'X'}));
    EXPECT_EQ(host.Read(8), Bytes("m:9.0231"));
    EXPECT_EQ(host.Reply(), -1);
}

// --- Devices, handles and scripted call failures ---------------------------------------------

TEST(DeviceTest, SeveralDevicesAreListedWithDistinctLocationsAndOnlyTheFirstIsTolvex) {
    Host host("devices=3");
    D2xxDword count = 0;
    ASSERT_EQ(host.ft().FT_ListDevices(&count, nullptr, 0x80000000u), 0u);
    EXPECT_EQ(count, 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        D2xxDword location = 0;
        ASSERT_EQ(host.ft().FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{i}), &location,
                                           kD2xxListByIndex | kD2xxOpenByLocation),
                  0u);
        EXPECT_EQ(location, LocationIdOf(i));
    }
    D2xxDword location = 0;
    EXPECT_EQ(host.ft().FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{3}), &location,
                                       kD2xxListByIndex | kD2xxOpenByLocation),
              2u);

    // The second device is some other FTDI gadget: it does not answer the bootloader's commands.
    ASSERT_TRUE(host.Open(1));
    ASSERT_TRUE(host.Write(Bytes("XX")));
    EXPECT_TRUE(host.Read(8).empty());
    const Snapshot seen = Inspect();
    ASSERT_EQ(seen.handles.size(), 1u);
    EXPECT_EQ(seen.handles[0].locationId, LocationIdOf(1));
    EXPECT_TRUE(seen.hostBytes.empty());
}

TEST(DeviceTest, NoDeviceMeansListingFails) {
    Host host("devices=0");
    D2xxDword location = 0;
    EXPECT_EQ(host.ft().FT_ListDevices(nullptr, &location, kD2xxListByIndex | kD2xxOpenByLocation),
              2u);
    EXPECT_FALSE(host.Open());
}

TEST(DeviceTest, OpeningIsExclusiveAndClosesAreCountedPerHandle) {
    Host host("");
    ASSERT_TRUE(host.Open());
    const D2xxHandle first = host.handle();
    Host* const again = &host;
    EXPECT_FALSE(again->Open()) << "a second open of an open device";
    ASSERT_TRUE(host.ft().FT_W32_CloseHandle(first));
    EXPECT_FALSE(host.ft().FT_W32_CloseHandle(first)) << "closing twice";
    ASSERT_TRUE(host.Open());
    EXPECT_NE(host.handle(), first) << "handle values are never reused";
    const Snapshot seen = Inspect();
    EXPECT_EQ(seen.opens, 2u);
    EXPECT_EQ(seen.closes, 2u);
    ASSERT_EQ(seen.handles.size(), 2u);
    EXPECT_EQ(seen.handles[0].closes, 2u);
    EXPECT_EQ(seen.handles[1].closes, 0u);
}

TEST(DeviceTest, EachScriptedFailureFailsItsCallOnly) {
    const struct {
        const char* key;
        const char* call;
    } cases[] = {
        {"list", "FT_ListDevices"},
        {"open", "FT_W32_CreateFile"},
        {"setupcomm", "FT_W32_SetupComm"},
        {"getcommstate", "FT_W32_GetCommState"},
        {"setcommstate", "FT_W32_SetCommState"},
        {"setcommmask", "FT_W32_SetCommMask"},
        {"timeouts", "FT_W32_SetCommTimeouts"},
        {"close", "FT_W32_CloseHandle"},
    };
    for (const auto& c : cases) {
        Host host(std::string("fail=") + c.key);
        const D2xxEntryPoints& ft = host.ft();
        std::vector<std::string> failed;
        D2xxDword location = 0;
        if (ft.FT_ListDevices(nullptr, &location, kD2xxListByIndex | kD2xxOpenByLocation) != 0) {
            failed.push_back("FT_ListDevices");
            location = LocationIdOf(0);
        }
        const D2xxHandle h =
            ft.FT_W32_CreateFile(reinterpret_cast<const char*>(std::uintptr_t{location}),
                                 0xC0000000u, 0, nullptr, 3, 0x40000084u, nullptr);
        if (h == D2xxInvalidHandle()) {
            failed.push_back("FT_W32_CreateFile");
        } else {
            D2xxDcb dcb{};
            D2xxTimeouts t{0, 0, 250, 0, 250};
            if (!ft.FT_W32_SetupComm(h, 128, 256)) {
                failed.push_back("FT_W32_SetupComm");
            }
            if (!ft.FT_W32_GetCommState(h, &dcb)) {
                failed.push_back("FT_W32_GetCommState");
            }
            if (!ft.FT_W32_SetCommState(h, &dcb)) {
                failed.push_back("FT_W32_SetCommState");
            }
            if (!ft.FT_W32_SetCommMask(h, 0)) {
                failed.push_back("FT_W32_SetCommMask");
            }
            if (!ft.FT_W32_SetCommTimeouts(h, &t)) {
                failed.push_back("FT_W32_SetCommTimeouts");
            }
            if (!ft.FT_W32_CloseHandle(h)) {
                failed.push_back("FT_W32_CloseHandle");
                EXPECT_NE(ft.FT_W32_GetLastError(h), kD2xxIoPending);
            }
        }
        EXPECT_EQ(failed, std::vector<std::string>{c.call}) << c.key;
    }
}

TEST(DeviceTest, AfterTheDeviceVanishesEveryCallFails) {
    Host host("vanish_block=1");
    ASSERT_TRUE(host.Open(0, 2000, 1000));
    ASSERT_TRUE(host.Write(Frame({1}, 0)));
    ASSERT_EQ(host.Reply(), 0x06);
    EXPECT_TRUE(host.Write(Frame({2}, 1))) << "the frame that meets the vanishing went out";

    bool failed = false;
    host.Read(1, &failed);
    EXPECT_TRUE(failed);
    EXPECT_NE(host.ft().FT_W32_GetLastError(host.handle()), kD2xxIoPending);
    EXPECT_FALSE(host.Write(Frame({2}, 1)));
    EXPECT_FALSE(host.SetTimeouts(250, 250));
    EXPECT_FALSE(host.ft().FT_W32_CloseHandle(host.handle()));
    D2xxDword location = 0;
    EXPECT_NE(host.ft().FT_ListDevices(nullptr, &location, kD2xxListByIndex | kD2xxOpenByLocation),
              0u);

    const Snapshot seen = Inspect();
    EXPECT_TRUE(seen.vanished);
    EXPECT_EQ(seen.flash, std::vector<std::uint8_t>{1});
    ASSERT_EQ(seen.frames.size(), 2u);
    EXPECT_FALSE(seen.frames[1].acked);
}

// --- Overlapped paths and timing -------------------------------------------------------------

TEST(DeviceTest, ReadsAndWritesGoPendingAsTheScenarioSays) {
    const struct {
        const char* keys;
        bool writePending;
        bool readPending;  // for a reply that is not there yet
    } cases[] = {
        {"pending=none", false, false},
        {"pending=reads", false, true},
        {"pending=writes", true, false},
        {"pending=all", true, true},
    };
    for (const auto& c : cases) {
        Host host(c.keys);
        ASSERT_TRUE(host.Open());
        const D2xxEntryPoints& ft = host.ft();
        std::uint8_t command[2] = {'X', 'X'};
        D2xxOverlapped ov{};
        D2xxDword n = 99;
        const D2xxBool wrote = ft.FT_W32_WriteFile(host.handle(), command, 2, &n, &ov);
        EXPECT_EQ(wrote == 0, c.writePending) << c.keys;
        if (!wrote) {
            ASSERT_EQ(ft.FT_W32_GetLastError(host.handle()), kD2xxIoPending);
            ASSERT_TRUE(ft.FT_W32_GetOverlappedResult(host.handle(), &ov, &n, 1));
        }
        EXPECT_EQ(n, 2u) << c.keys;

        std::uint8_t id[8] = {};
        D2xxOverlapped rov{};
        n = 99;
        const D2xxBool read = ft.FT_W32_ReadFile(host.handle(), id, 8, &n, &rov);
        EXPECT_EQ(read == 0, c.readPending) << c.keys;
        if (!read) {
            ASSERT_EQ(ft.FT_W32_GetLastError(host.handle()), kD2xxIoPending);
            ASSERT_TRUE(ft.FT_W32_GetOverlappedResult(host.handle(), &rov, &n, 1));
        }
        EXPECT_EQ(n, 8u) << c.keys;
        EXPECT_EQ(std::string(id, id + 8), "m:9.0231") << c.keys;
    }
}

TEST(DeviceTest, AReadWithNothingToDeliverReturnsShortAfterItsTimeout) {
    Host host("erase=silent");
    ASSERT_TRUE(host.Open(0, 3000, 500));
    ASSERT_TRUE(host.Write(Bytes("XE")));
    bool failed = true;
    EXPECT_TRUE(host.Read(1, &failed).empty());
    EXPECT_FALSE(failed) << "a timeout is a short read, not a failure";
}

TEST(DeviceTest, AReadWithoutAnyTimeoutThatCouldNeverFinishFailsInsteadOfHanging) {
    Host host("erase=silent");
    ASSERT_TRUE(host.Open());
    ASSERT_TRUE(host.SetTimeouts(0, 0));
    ASSERT_TRUE(host.Write(Bytes("XE")));
    bool failed = false;
    host.Read(1, &failed);
    EXPECT_TRUE(failed);
}

TEST(DeviceTest, TheChipPassesBytesOnIn62BytePacketsOrWhenTheLatencyTimerExpires) {
    // Eight identify requests in one write: 64 reply bytes arrive 20 us apart, beginning at
    // about 0.36 ms. The first 62 fill a packet (about 1.6 ms, sent on the 2 ms USB frame); the
    // last 2 wait for the 16 ms latency timer (about 17.6 ms, sent at 18 ms).
    Host host("latency_ms=16");
    ASSERT_TRUE(host.Open(0, 5));
    std::vector<std::uint8_t> requests;
    for (int i = 0; i < 8; ++i) {
        requests.push_back('X');
        requests.push_back('X');
    }
    ASSERT_TRUE(host.Write(requests));
    EXPECT_EQ(host.Read(64).size(), 62u) << "only the full packet within 5 ms";
    EXPECT_EQ(host.Read(2).size(), 0u) << "the rest not before the latency timer";
    ASSERT_TRUE(host.SetTimeouts(20, 250));
    EXPECT_EQ(host.Read(2).size(), 2u);
}

TEST(DeviceTest, PurgeDropsWhatHasArrivedButNotWhatTheDeviceHasYetToSend) {
    Host host("erase_ms=1000;keepalive_ms=400");
    ASSERT_TRUE(host.Open(0, 3000, 500));
    ASSERT_TRUE(host.Write(Bytes("XE")));
    ASSERT_EQ(host.Reply(), 0x16);  // t = 416 ms
    ASSERT_TRUE(host.ft().FT_W32_PurgeComm(host.handle(), 12));
    EXPECT_EQ(host.Reply(), 0x16);
    EXPECT_EQ(host.Reply(), 0x4E);
}

// --- Binding, trace and flash files ----------------------------------------------------------

TEST(DeviceTest, InProcessBindingCountsBindsAndReleases) {
    testing::InstallInstant("");
    {
        D2xxBinding binding;
        ASSERT_EQ(BindInProcess(binding), D2xxBindResult::Ok);
        EXPECT_EQ(binding.detail, "in-process simulator");
        EXPECT_NE(binding.entryPoints.FT_W32_WaitCommEvent, nullptr);
        EXPECT_EQ(Inspect().binds, 1u);
        EXPECT_EQ(Inspect().releases, 0u);
    }
    EXPECT_EQ(Inspect().releases, 1u);

    {
        D2xxBinding missing;
        EXPECT_EQ(BindInProcess(missing, D2xxBindResult::MissingEntryPoint),
                  D2xxBindResult::MissingEntryPoint);
        EXPECT_EQ(missing.detail, "FT_W32_WaitCommEvent");
        EXPECT_EQ(missing.entryPoints.FT_ListDevices, nullptr);
        EXPECT_EQ(Inspect().binds, 2u);
    }
    EXPECT_EQ(Inspect().releases, 2u);

    D2xxBinding absent;
    EXPECT_EQ(BindInProcess(absent, D2xxBindResult::NotFound), D2xxBindResult::NotFound);
    EXPECT_EQ(Inspect().binds, 2u);
}

}  // namespace
}  // namespace tolvex::sim
