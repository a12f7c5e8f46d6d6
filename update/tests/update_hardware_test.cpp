// The whole update against the in-process simulator at time scale 0 (no real waiting).
#include "update/update_hardware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "sim/simulator.h"
#include "tests/support/temp_folder.h"
#include "update/tests/recording_front_end.h"

namespace tolvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;
using test::RecordingFrontEnd;

// A payload of `size` bytes (at least 4) that ends in the trailer; the rest is a simple
// pseudo-random sequence, so a dropped or reordered block shows.
Bytes MakePayload(std::size_t size, std::uint32_t seed = 1) {
    Bytes payload(size);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i + kUpdateTrailer.size() < size; ++i) {
        state = state * 1103515245u + 12345u;
        payload[i] = static_cast<std::uint8_t>(state >> 16);
    }
    std::copy(kUpdateTrailer.begin(), kUpdateTrailer.end(),
              payload.end() - static_cast<long>(kUpdateTrailer.size()));
    return payload;
}

std::uint32_t Sum(const Bytes& bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    return sum;
}

// Descriptors this process holds, where the platform can tell (Linux); used to show that
// the update file is closed on every path. Under Wine /proc/self/fd exists but lists Wine's
// own descriptors, which other Wine processes change, so Windows builds never look.
std::optional<std::size_t> OpenDescriptors() {
#if !defined(__linux__)
    return std::nullopt;
#else
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/self/fd", error);
    if (error) {
        return std::nullopt;
    }
    std::size_t count = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        ++count;
    }
    return count;
#endif
}

// The transfer timeouts are the third SetCommTimeouts call of an update (after identify and
// erase); this wrapper makes exactly that call fail and passes every other one through.
FtW32SetCommTimeoutsFn realSetCommTimeouts = nullptr;
int setCommTimeoutsCalls = 0;
D2xxBool TOLVEX_D2XX_CALL FailThirdSetCommTimeouts(D2xxHandle handle, D2xxTimeouts* timeouts) {
    if (++setCommTimeoutsCalls == 3) {
        return 0;
    }
    return realSetCommTimeouts(handle, timeouts);
}

// Advances by a fixed step at every read, so checkpoint texts are predictable.
struct SteppingClock {
    std::uint32_t now = 5000;
    std::uint32_t step = 30000;
    int reads = 0;
};

class UpdateHardwareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BlockSize = kBlockSize;
        TagWithBlockIndex = true;
    }
    void TearDown() override {
        BlockSize = kBlockSize;
        TagWithBlockIndex = true;
    }

    std::string WriteFile(std::string_view header, const Bytes& payload) {
        static int serial = 0;
        return temp.Write("update-" + std::to_string(++serial) + ".tvu",
                          {header, testing::AsChars(payload)});
    }

    void Install(const std::string& keys) {
        sim::Scenario scenario;
        std::string error;
        ASSERT_TRUE(sim::ParseScenario("timescale=0;" + keys, scenario, error)) << error;
        sim::InstallSimulator(scenario);
    }

    UpdateResult Run(const std::string& path, D2xxBindResult simulateBind = D2xxBindResult::Ok) {
        UpdateOptions options;
        options.bindDriver = [simulateBind, this](D2xxBinding& binding) {
            const D2xxBindResult result = sim::BindInProcess(binding, simulateBind);
            if (result == D2xxBindResult::Ok && failTransferTimeouts) {
                realSetCommTimeouts = binding.entryPoints.FT_W32_SetCommTimeouts;
                setCommTimeoutsCalls = 0;
                binding.entryPoints.FT_W32_SetCommTimeouts = &FailThirdSetCommTimeouts;
            }
            return result;
        };
        options.clock = [this] {
            ++clock.reads;
            const std::uint32_t now = clock.now;
            clock.now += clock.step;
            return now;
        };
        return UpdateHardware(path, frontEnd, options);
    }

    // What every exit must leave: labels hidden, each opened handle closed exactly once,
    // the library released as often as it was bound, the file's descriptor gone.
    void ExpectReleased(const sim::Snapshot& snap) {
        EXPECT_FALSE(frontEnd.statusVisible);
        EXPECT_FALSE(frontEnd.estimateVisible);
        for (const auto& handle : snap.handles) {
            EXPECT_EQ(handle.closes, 1u);
        }
        EXPECT_EQ(snap.closes, snap.opens);
        EXPECT_EQ(snap.releases, snap.binds);
    }

    RecordingFrontEnd frontEnd;
    SteppingClock clock;
    bool failTransferTimeouts = false;
    testing::TempFolder temp;
};

// --- Success ---------------------------------------------------------------------------------

struct SuccessCase {
    const char* name;
    const char* keys;
    std::string_view header;
    std::size_t payloadSize;
    std::uint32_t retries;
};

void PrintTo(const SuccessCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateSuccessTest : public UpdateHardwareTest,
                          public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(UpdateSuccessTest, FlashEqualsPayload) {
    const SuccessCase& c = GetParam();
    Install(c.keys);
    const Bytes payload = MakePayload(c.payloadSize, 7);
    const std::string path = WriteFile(c.header, payload);
    const auto descriptorsBefore = OpenDescriptors();

    EXPECT_EQ(Run(path), UpdateResult::Ok);

    const sim::Snapshot snap = sim::Inspect();
    EXPECT_TRUE(frontEnd.errors.empty());
    EXPECT_EQ(snap.flash, payload);  // byte for byte
    EXPECT_EQ(snap.eraseCount, 1u);
    EXPECT_EQ(snap.verifyCount, 1u);
    EXPECT_EQ(snap.opens, 1u);
    EXPECT_EQ(snap.binds, 1u);
    ExpectReleased(snap);
    if (descriptorsBefore) {
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    }
    const std::uint32_t blocks =
        static_cast<std::uint32_t>((c.payloadSize + kBlockSize - 1) / kBlockSize);
    ASSERT_FALSE(frontEnd.progress.empty());
    EXPECT_EQ(frontEnd.progress.back().totalBlocks, blocks);
    EXPECT_EQ(frontEnd.progress.back().payloadBytes, c.payloadSize);
    const auto acked = std::count_if(snap.frames.begin(), snap.frames.end(),
                                     [](const sim::ReceivedFrame& f) { return f.acked; });
    EXPECT_EQ(static_cast<std::uint32_t>(acked), blocks);
    EXPECT_EQ(snap.frames.size(), blocks + frontEnd.progress.back().retries);
    EXPECT_EQ(frontEnd.progress.back().retries, c.retries);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateSuccessTest,
    ::testing::Values(SuccessCase{"Standard", "model=standard", kStandardHeader, 60000, 0},
                      SuccessCase{"Pro", "model=pro", kProHeader, 60123, 0},
                      SuccessCase{"GenerationB", "generation=B", kStandardHeader, 30001, 0},
                      SuccessCase{"OneRetriedBlock", "nak_block=3;nak_times=2", kStandardHeader,
                                  2000, 2},
                      SuccessCase{"SmallestFile", "", kStandardHeader, 4, 0},
                      SuccessCase{"PendingWrites", "pending=all", kStandardHeader, 1000, 0}),
    [](const ::testing::TestParamInfo<SuccessCase>& param) { return param.param.name; });

TEST_F(UpdateHardwareTest, LabelSequenceOnSuccess) {
    Install("");
    // 240 blocks of payload in a 60016-byte file: total blocks 240, 241 transmit calls, so
    // checkpoints at 100 (one hundred left) and 200 (none left).
    const std::string path = WriteFile(kStandardHeader, MakePayload(60000));
    ASSERT_EQ(Run(path), UpdateResult::Ok);
    EXPECT_EQ(frontEnd.calls, (Calls{
                                  "status=Erasing...",
                                  "status:show",
                                  "estimate=1 minute to complete the upgrade",
                                  "estimate:show",
                                  "status=Transmitting...",
                                  "estimate=30 seconds to complete the upgrade",
                                  "estimate=1 second to complete the upgrade",
                                  "estimate:hide",
                                  "status=Verifying...",
                                  "status:hide",
                              }));
    EXPECT_EQ(clock.reads, 3);  // start and two checkpoints, never per block
    EXPECT_EQ(frontEnd.hardwareId.substr(0, 4), "m:9.");
}

TEST_F(UpdateHardwareTest, PayloadOfExactlyOneBlock) {
    Install("");
    const Bytes payload = MakePayload(kBlockSize);
    ASSERT_EQ(Run(WriteFile(kStandardHeader, payload)), UpdateResult::Ok);
    const sim::Snapshot snap = sim::Inspect();
    ASSERT_EQ(snap.frames.size(), 1u);  // the second call reads nothing and sends nothing
    EXPECT_EQ(snap.frames[0].bytes.size(), kBlockSize + 5);
    ASSERT_EQ(frontEnd.progress.size(), 2u);
    EXPECT_EQ(frontEnd.progress.back().blocksDone, 2u);
    EXPECT_EQ(frontEnd.progress.back().totalBlocks, 1u);
    EXPECT_EQ(snap.flash, payload);
}

// The first ACK-ended erase switches the tag for the rest of the process: a later update on
// hardware that ends its erase with 'N' still tags with the sum's high byte.
TEST_F(UpdateHardwareTest, TagStaysOnSumAfterAnAckEndedErase) {
    Install("generation=B");
    const Bytes payload = MakePayload(3000, 3);
    const std::string path = WriteFile(kStandardHeader, payload);
    ASSERT_EQ(Run(path), UpdateResult::Ok);
    EXPECT_FALSE(TagWithBlockIndex);

    Install("generation=A;tag=any");
    ASSERT_EQ(Run(path), UpdateResult::Ok);
    const sim::Snapshot snap = sim::Inspect();
    ASSERT_EQ(snap.frames.size(), 12u);
    bool differsFromIndex = false;
    for (std::size_t i = 0; i < snap.frames.size(); ++i) {
        const Bytes& frame = snap.frames[i].bytes;
        const std::size_t n = frame.at(2);
        std::uint32_t sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            sum += frame.at(3 + k);
        }
        EXPECT_EQ(frame.back(), static_cast<std::uint8_t>(sum >> 8)) << "frame " << i;
        differsFromIndex = differsFromIndex || frame.back() != static_cast<std::uint8_t>(i);
    }
    EXPECT_TRUE(differsFromIndex);  // the payload tells the two tags apart
    EXPECT_EQ(snap.flash, payload);
}

TEST_F(UpdateHardwareTest, GenerationAKeepsTheIndexTag) {
    Install("generation=A;tag=index");
    ASSERT_EQ(Run(WriteFile(kStandardHeader, MakePayload(1000))), UpdateResult::Ok);
    EXPECT_TRUE(TagWithBlockIndex);
}

TEST_F(UpdateHardwareTest, StopRequestEndsAfterTheCurrentBlockWithoutABox) {
    Install("");
    frontEnd.stopAfterBlocks = 2;
    EXPECT_EQ(Run(WriteFile(kStandardHeader, MakePayload(5000))), UpdateResult::Stopped);
    const sim::Snapshot snap = sim::Inspect();
    EXPECT_TRUE(frontEnd.errors.empty());
    EXPECT_EQ(snap.frames.size(), 2u);
    EXPECT_EQ(snap.verifyCount, 0u);
    ExpectReleased(snap);
}

TEST_F(UpdateHardwareTest, StopRequestBeforeTheEraseLeavesTheHardwareUntouched) {
    Install("");
    frontEnd.stopFromTheStart = true;
    EXPECT_EQ(Run(WriteFile(kStandardHeader, MakePayload(5000))), UpdateResult::Stopped);
    const sim::Snapshot snap = sim::Inspect();
    EXPECT_TRUE(frontEnd.errors.empty());
    EXPECT_EQ(snap.identifyCount, 1u);  // identified and matched first
    EXPECT_EQ(snap.eraseCount, 0u);
    EXPECT_TRUE(snap.frames.empty());
    EXPECT_FALSE(frontEnd.statusVisible);
    EXPECT_FALSE(frontEnd.estimateVisible);
    ExpectReleased(snap);
}

// --- Failures --------------------------------------------------------------------------------

enum class FileKind { Good, Missing, BadTrailer, BadMagic, ProHeader, UnknownModel };

struct FailureCase {
    const char* name;
    const char* keys;
    FileKind file;
    D2xxBindResult bind;
    bool failTransferTimeouts;
    UpdateResult result;
    const char* message;
    bool erased;    // the hardware heard "XE"
    bool labelsUp;  // the labels had been shown before the failure
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateFailureTest : public UpdateHardwareTest,
                          public ::testing::WithParamInterface<FailureCase> {
  protected:
    std::string MakeFile(FileKind kind) {
        const Bytes payload = MakePayload(2000);
        switch (kind) {
            case FileKind::Good:
                return WriteFile(kStandardHeader, payload);
            case FileKind::Missing:
                return (std::filesystem::path(::testing::TempDir()) / "tolvex_no_such_file.tvu")
                    .string();
            case FileKind::BadTrailer: {
                Bytes bad = payload;
                bad.back() = 0;
                return WriteFile(kStandardHeader, bad);
            }
            case FileKind::BadMagic:
                return WriteFile("TolvexFilf999999", payload);
            case FileKind::ProHeader:
                return WriteFile(kProHeader, payload);
            case FileKind::UnknownModel:
                return WriteFile("TolvexFile123456", payload);
        }
        return {};
    }
};

TEST_P(UpdateFailureTest, OneBoxThenEverythingReleased) {
    const FailureCase& c = GetParam();
    Install(c.keys);
    failTransferTimeouts = c.failTransferTimeouts;
    const std::string path = MakeFile(c.file);
    const auto descriptorsBefore = OpenDescriptors();

    EXPECT_EQ(Run(path, c.bind), c.result);

    const sim::Snapshot snap = sim::Inspect();
    EXPECT_EQ(frontEnd.errors, std::vector<UpdateResult>{c.result});
    ASSERT_FALSE(frontEnd.calls.empty());
    EXPECT_EQ(frontEnd.calls.back(), std::string("error=") + c.message);  // the box comes last
    EXPECT_FALSE(frontEnd.labelVisibleAtError);
    EXPECT_EQ(snap.eraseCount, c.erased ? 1u : 0u);
    if (!c.erased) {
        EXPECT_TRUE(snap.flash.empty());
    }
    const bool labelsShown = std::find(frontEnd.calls.begin(), frontEnd.calls.end(),
                                       "status:show") != frontEnd.calls.end();
    EXPECT_EQ(labelsShown, c.labelsUp);
    ExpectReleased(snap);
    if (descriptorsBefore) {
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    }
}

constexpr auto kOk = D2xxBindResult::Ok;

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateFailureTest,
    ::testing::Values(
        FailureCase{"DriverNotFound", "", FileKind::Good, D2xxBindResult::NotFound, false,
                    UpdateResult::DriverNotFound, "FTD2XX.DLL not found", false, false},
        FailureCase{"DriverMissingName", "", FileKind::Good, D2xxBindResult::MissingEntryPoint,
                    false, UpdateResult::DriverInterface, "Error interfacing FTD2XX.DLL", false,
                    false},
        FailureCase{"FileMissing", "", FileKind::Missing, kOk, false, UpdateResult::FileNotReadable,
                    "File not readable!", false, false},
        FailureCase{"BadTrailer", "", FileKind::BadTrailer, kOk, false,
                    UpdateResult::FileNotReadable, "File not readable!", false, false},
        FailureCase{"BadMagicEvenWithoutDevice", "devices=0", FileKind::BadMagic, kOk, false,
                    UpdateResult::FileNotReadable, "File not readable!", false, false},
        FailureCase{"NoDevice", "devices=0", FileKind::Good, kOk, false,
                    UpdateResult::ConnectFailed, "Unable to connect to the hardware!", false,
                    false},
        FailureCase{"OpenFails", "fail=open", FileKind::Good, kOk, false,
                    UpdateResult::ConnectFailed, "Unable to connect to the hardware!", false,
                    false},
        FailureCase{"SetupFails", "fail=setupcomm", FileKind::Good, kOk, false,
                    UpdateResult::ConnectFailed, "Unable to connect to the hardware!", false,
                    false},
        FailureCase{"IdentifyTimeoutsFail", "fail=timeouts", FileKind::Good, kOk, false,
                    UpdateResult::ConnectFailed, "Unable to connect to the hardware!", false,
                    false},
        FailureCase{"EmptyIdentifier", "identify_short=3", FileKind::Good, kOk, false,
                    UpdateResult::ConnectFailed, "Unable to connect to the hardware!", false,
                    false},
        FailureCase{"UnknownHardware", "id=X:9.0231", FileKind::Good, kOk, false,
                    UpdateResult::UnknownHardware, "Unknown hardware!", false, false},
        FailureCase{"ProHardwareStandardFile", "model=pro", FileKind::Good, kOk, false,
                    UpdateResult::FileNotReadable, "File not readable!", false, false},
        FailureCase{"StandardHardwareProFile", "model=standard", FileKind::ProHeader, kOk, false,
                    UpdateResult::FileNotReadable, "File not readable!", false, false},
        FailureCase{"UnknownModelCode", "", FileKind::UnknownModel, kOk, false,
                    UpdateResult::FileNotReadable, "File not readable!", false, false},
        FailureCase{"EraseNak", "erase=nak", FileKind::Good, kOk, false, UpdateResult::EraseFailed,
                    "Error on erasing the hardware!", true, true},
        FailureCase{"EraseSilent", "erase=silent", FileKind::Good, kOk, false,
                    UpdateResult::EraseFailed, "Error on erasing the hardware!", true, true},
        FailureCase{"TransferTimeoutsFail", "", FileKind::Good, kOk, true,
                    UpdateResult::TransmitFailed, "Error on transmitting data to hardware!", true,
                    true},
        FailureCase{"FirstBlockNeverAcked", "nak_block=0;nak_times=always", FileKind::Good, kOk,
                    false, UpdateResult::TransmitFailed, "Error on transmitting data to hardware!",
                    true, true},
        FailureCase{"DeviceVanishes", "vanish_block=4", FileKind::Good, kOk, false,
                    UpdateResult::TransmitFailed, "Error on transmitting data to hardware!", true,
                    true},
        FailureCase{"VerifyNak", "verify=nak", FileKind::Good, kOk, false,
                    UpdateResult::VerifyFailed, "Error on verifying the hardware!", true, true},
        FailureCase{"VerifySilent", "verify=silent", FileKind::Good, kOk, false,
                    UpdateResult::VerifyFailed, "Error on verifying the hardware!", true, true},
        FailureCase{"CloseFails", "fail=close", FileKind::Good, kOk, false,
                    UpdateResult::CloseFailed, "Error on closing USB!", true, true}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

TEST_F(UpdateHardwareTest, LabelSequenceOnEraseFailure) {
    Install("erase=nak");
    EXPECT_EQ(Run(WriteFile(kStandardHeader, MakePayload(1000))), UpdateResult::EraseFailed);
    EXPECT_EQ(frontEnd.calls, (Calls{
                                  "status=Erasing...",
                                  "status:show",
                                  "estimate=1 minute to complete the upgrade",
                                  "estimate:show",
                                  "status:hide",
                                  "estimate:hide",
                                  "error=Error on erasing the hardware!",
                              }));
}

TEST_F(UpdateHardwareTest, NeverAcknowledgedFirstBlockIsSentThreeTimes) {
    Install("nak_block=0;nak_times=always");
    EXPECT_EQ(Run(WriteFile(kStandardHeader, MakePayload(1000))), UpdateResult::TransmitFailed);
    const sim::Snapshot snap = sim::Inspect();
    ASSERT_EQ(snap.frames.size(), 3u);
    EXPECT_EQ(snap.frames[0].bytes, snap.frames[2].bytes);
    EXPECT_EQ(snap.verifyCount, 0u);
    // The estimate label went before the status label and the box.
    const Calls tail(frontEnd.calls.end() - 3, frontEnd.calls.end());
    EXPECT_EQ(tail, (Calls{"estimate:hide", "status:hide",
                           "error=Error on transmitting data to hardware!"}));
}

TEST_F(UpdateHardwareTest, FailedCloseAfterVerifyIsReportedOnce) {
    Install("fail=close");
    EXPECT_EQ(Run(WriteFile(kStandardHeader, MakePayload(1000))), UpdateResult::CloseFailed);
    const sim::Snapshot snap = sim::Inspect();
    ASSERT_EQ(snap.handles.size(), 1u);
    EXPECT_EQ(snap.handles[0].closes, 1u);  // the failed close counts; no second attempt
    EXPECT_EQ(snap.deviceSum & 0xFFFFu, Sum(snap.flash) & 0xFFFFu);
}

TEST(UpdateMessageTest, Texts) {
    EXPECT_EQ(UpdateMessage(UpdateResult::Ok), "Hardware updated correctly!");
    EXPECT_EQ(UpdateMessage(UpdateResult::Stopped), "");
}

}  // namespace
}  // namespace tolvex
