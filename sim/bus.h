// Internal to the simulator, shared by its parts and never installed: the emulated bus's
// state and the helpers the device side, the driver functions and the installation share.
//
// The emulated bus. Host writes are processed synchronously: every byte the host sends is
// stamped with the time it reaches the device at the configured baud, the device's answers
// are stamped with the time they reach the host through the FTDI chip (62-byte packets or the
// latency timer, on 1 ms USB frames), and a read waits on a condition variable until the time
// its bytes are deliverable or its read total runs out. Time is "model time" in microseconds
// since the bus was installed; model time runs at 1/timescale of the real clock, and at time
// scale 0 it is a virtual clock that jumps to whatever a read waits for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace tolvex::sim::detail {

using Micros = std::int64_t;
inline constexpr Micros kNever = INT64_MAX;

// Win32 error codes FT_W32_GetLastError reports.
inline constexpr D2xxDword kErrInvalidHandle = 6;
inline constexpr D2xxDword kErrGenFailure = 31;
inline constexpr D2xxDword kErrInvalidParameter = 87;
inline constexpr D2xxDword kErrOperationAborted = 995;
inline constexpr D2xxDword kErrIoIncomplete = 996;
inline constexpr D2xxDword kErrDeviceNotConnected = 1167;

// A reply byte on its way to the host: when it enters the FTDI chip and when the host's
// driver has it.
struct RxByte {
    std::uint8_t value;
    Micros arrival;
    Micros deliver;
};

struct PendingOp {
    bool isRead = false;
    std::uint8_t* buffer = nullptr;
    D2xxDword count = 0;
    Micros deadline = kNever;  // reads: when the read total runs out
};

enum class ParseState { Idle, GotX, Length, Payload, Sum, Tag, VerifyLo, VerifyHi, Discard };

struct Device {
    std::uint32_t location = 0;
    bool tolvex = false;  // index 0 carries the bootloader; the others are other FTDI gadgets
    bool present = true;
    bool open = false;
    D2xxDcb dcb{};
    D2xxTimeouts timeouts{};
    std::deque<RxByte> rx;
    bool batchOpen = false;
    std::uint32_t batchCount = 0;
    Micros batchDeliver = 0;
    Micros hostTxFree = 0;    // the host-to-device wire is busy until then
    Micros deviceTxFree = 0;  // the device-to-host wire is busy until then
    ParseState state = ParseState::Idle;
    std::vector<std::uint8_t> command;
    Micros lastHeard = 0;
};

struct HandleState {
    std::size_t device = 0;
    bool open = true;
    D2xxDword lastError = 0;
    std::map<D2xxOverlapped*, PendingOp> pending;
};

struct Bus {
    Scenario scenario;
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    Micros virtualNow = 0;
    bool replaced = false;
    std::vector<Device> devices;
    std::map<std::uintptr_t, HandleState> handles;
    std::uintptr_t nextHandle = 0x5101;
    std::uint32_t identifyShortLeft = 0;
    std::uint32_t nakLeft = 0;
    std::uint32_t blockIndex = 0;  // frames acknowledged since the last erase
    Snapshot seen;
    std::ofstream trace;
};

// The installed bus; one lock guards it and everything reached through it.
extern std::mutex gMutex;
extern std::condition_variable gWake;
extern std::shared_ptr<Bus> gBus;

// --- Time ------------------------------------------------------------------------------------

Micros Now(const Bus& bus);
Micros FrameCeil(Micros t);
Micros Ms(std::uint32_t ms);

// Waits until model time `t`, or until the bus is replaced. False when it was replaced.
bool WaitUntil(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Bus>& bus, Micros t);

// --- Trace -----------------------------------------------------------------------------------

std::string Hex(std::uint64_t value);
std::string HexBytes(const std::uint8_t* bytes, std::size_t n);
std::string HandleText(D2xxHandle h);
void Trace(Bus& bus, const std::string& line);
void WriteFlashFile(Bus& bus);

// --- The device side -------------------------------------------------------------------------

D2xxDcb InitialDcb();
bool LineOk(const D2xxDcb& dcb);
std::string IdentifierText(const Scenario& s);

// The host's bytes go out on the wire at the configured baud. The bootloader understands them
// only when the line is set as it expects; otherwise it hears garbage and stays silent.
void HostSends(Bus& bus, Device& d, const std::uint8_t* bytes, std::size_t n);

// --- The fourteen functions ------------------------------------------------------------------

// The table of the fourteen functions that drive the installed bus; one object for the life
// of the process.
const D2xxEntryPoints& EntryPoints();

}  // namespace tolvex::sim::detail
