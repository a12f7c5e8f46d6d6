// A host for tests of the simulator: drives the installed bus through its entry points the
// way the program's serial link does, at time scale 0, so nothing in a test waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace tolvex::sim::testing {

// Installs "timescale=0;" + `keys` (failing the test if the text does not parse).
inline const D2xxEntryPoints& InstallInstant(const std::string& keys) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario("timescale=0;" + keys, scenario, error)) << error;
    return InstallSimulator(scenario);
}

// The line settings the bootloader expects, applied to what the device reported.
inline D2xxDcb ProgramLine(D2xxDcb dcb) {
    dcb.baudRate = 500000;
    dcb.flags &= ~(kDcbParityCheck | kDcbOutX | kDcbInX | kDcbNullStrip);
    dcb.byteSize = 8;
    dcb.parity = kDcbNoParity;
    dcb.stopBits = kDcbOneStopBit;
    return dcb;
}

class Host {
  public:
    explicit Host(const std::string& keys) : ft_(InstallInstant(keys)) {}

    const D2xxEntryPoints& ft() const { return ft_; }
    D2xxHandle handle() const { return handle_; }

    // Opens the device listed at `index` and sets the line the bootloader expects, with
    // read/write totals of `readMs`/`writeMs`.
    bool Open(std::uint32_t index = 0, std::uint32_t readMs = 250, std::uint32_t writeMs = 250) {
        D2xxDword location = 0;
        if (ft_.FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{index}), &location,
                               kD2xxListByIndex | kD2xxOpenByLocation) != 0) {
            return false;
        }
        handle_ = ft_.FT_W32_CreateFile(
            reinterpret_cast<const char*>(std::uintptr_t{location}),
            kD2xxGenericRead | kD2xxGenericWrite, 0, nullptr, kD2xxOpenExisting,
            kD2xxAttributeNormal | kD2xxFlagOverlapped | kD2xxOpenByLocation, nullptr);
        if (handle_ == D2xxInvalidHandle()) {
            return false;
        }
        D2xxDcb dcb{};
        if (!ft_.FT_W32_GetCommState(handle_, &dcb)) {
            return false;
        }
        dcb = ProgramLine(dcb);
        return ft_.FT_W32_SetCommState(handle_, &dcb) != 0 && SetTimeouts(readMs, writeMs);
    }

    bool SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
        D2xxTimeouts t{0, 0, readMs, 0, writeMs};
        return ft_.FT_W32_SetCommTimeouts(handle_, &t) != 0;
    }

    // Writes all bytes, finishing a pending write; false on failure.
    bool Write(std::vector<std::uint8_t> bytes) {
        D2xxOverlapped ov{};
        D2xxDword done = 0;
        const auto n = static_cast<D2xxDword>(bytes.size());
        if (!ft_.FT_W32_WriteFile(handle_, bytes.data(), n, &done, &ov)) {
            if (ft_.FT_W32_GetLastError(handle_) != kD2xxIoPending ||
                !ft_.FT_W32_GetOverlappedResult(handle_, &ov, &done, 1)) {
                return false;
            }
        }
        return done == n;
    }

    // Reads up to n bytes, finishing a pending read. `failed` tells a driver failure apart
    // from a short read.
    std::vector<std::uint8_t> Read(std::uint32_t n, bool* failed = nullptr) {
        std::vector<std::uint8_t> buffer(n);
        D2xxOverlapped ov{};
        D2xxDword got = 0;
        bool ok = ft_.FT_W32_ReadFile(handle_, buffer.data(), n, &got, &ov) != 0;
        if (!ok && ft_.FT_W32_GetLastError(handle_) == kD2xxIoPending) {
            ok = ft_.FT_W32_GetOverlappedResult(handle_, &ov, &got, 1) != 0;
        }
        if (failed != nullptr) {
            *failed = !ok;
        }
        buffer.resize(ok ? got : 0);
        return buffer;
    }

    // One reply byte, or -1 when none came.
    int Reply() {
        const auto bytes = Read(1);
        return bytes.empty() ? -1 : bytes[0];
    }

  private:
    const D2xxEntryPoints& ft_;
    D2xxHandle handle_ = D2xxInvalidHandle();
};

// An XW frame for `payload` with the given tag; `sumLowDelta` corrupts the sum byte.
inline std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& payload, std::uint8_t tag,
                                       std::uint8_t sumLowDelta = 0) {
    std::vector<std::uint8_t> frame{0x58, 0x57, static_cast<std::uint8_t>(payload.size())};
    std::uint32_t sum = 0;
    for (const std::uint8_t b : payload) {
        frame.push_back(b);
        sum += b;
    }
    frame.push_back(static_cast<std::uint8_t>((sum + sumLowDelta) & 0xFF));
    frame.push_back(tag);
    return frame;
}

inline std::uint32_t Sum(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    return sum;
}

}  // namespace tolvex::sim::testing
