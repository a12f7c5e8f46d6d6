// The device simulator: an emulated USB bus of FTDI devices, the first of which carries the
// Tolvex bootloader. It stands where the FTDI driver stands. Tests use it in-process through
// the D2xxEntryPoints table that InstallSimulator returns; the shared driver library
// (libftd2xx.so / FTD2XX.DLL under <build>/sim/driver) exports the same functions to the real
// program and installs the scenario named by the TOLVEX_SIM environment variable.
//
// Threading: every function here and every entry point in the table may be called from any
// thread; one lock guards the installed bus. Nothing busy-waits: calls that wait do so on a
// condition variable with a deadline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/d2xx.h"
#include "link/d2xx_library.h"

namespace tolvex::sim {

enum class Model { Standard, Pro };  // identifier "m:9.0231" or "M:9.0231"

// Bootloader generation. A: erase ends with 0x4E and frames are tagged with the block index's
// low byte. B: erase ends with ACK (0x06) and frames are tagged with their sum's high byte.
enum class Generation { A, B };

// Which last frame byte the device accepts. FollowGeneration is the default.
enum class TagRule { FollowGeneration, Index, Sum, Any };

// How the device answers erase or verify.
enum class Answer { Ok, Nak, Silent };

// Which overlapped transfers return 0 with last error 997 and finish in
// FT_W32_GetOverlappedResult:
//   None:   nothing goes pending; a read waits inside FT_W32_ReadFile.
//   Reads:  a read that cannot be satisfied at once goes pending; writes finish at once.
//   Writes: every write goes pending; reads wait inside FT_W32_ReadFile.
//   All:    every read and every write goes pending.
enum class Pending { None, Reads, Writes, All };

// Driver calls a scenario can make fail (bits of Scenario::failCalls).
enum FailCall : std::uint32_t {
    kFailList = 1u << 0,          // FT_ListDevices returns 4 (I/O error)
    kFailOpen = 1u << 1,          // FT_W32_CreateFile returns the invalid handle
    kFailSetupComm = 1u << 2,     // FT_W32_SetupComm returns 0
    kFailGetCommState = 1u << 3,  // FT_W32_GetCommState returns 0
    kFailSetCommState = 1u << 4,  // FT_W32_SetCommState returns 0
    kFailSetCommMask = 1u << 5,   // FT_W32_SetCommMask returns 0
    kFailTimeouts = 1u << 6,      // FT_W32_SetCommTimeouts returns 0
    kFailClose = 1u << 7,         // FT_W32_CloseHandle returns 0 (the handle is released anyway)
};

inline constexpr std::uint32_t kNakAlways = 0xFFFFFFFFu;

// One simulated setup. Every field has the default a key-less scenario gets; the comment
// names the TOLVEX_SIM key that sets it.
struct Scenario {
    std::uint32_t devices = 1;                 // devices=N; 0 = no FTDI device at all
    Model model = Model::Standard;             // model=standard|pro
    std::optional<std::string> id;             // id=TEXT; sent as exactly 8 bytes (space-padded
                                               // or cut)
    Generation generation = Generation::A;     // generation=A|B
    TagRule tag = TagRule::FollowGeneration;   // tag=index|sum|any
    std::uint32_t identifyShort = 0;           // identify_short=K: first K answers are 7 bytes
    Answer erase = Answer::Ok;                 // erase=ok|nak|silent
    std::optional<std::uint32_t> nakBlock;     // nak_block=K
    std::uint32_t nakTimes = 1;                // nak_times=N|always (kNakAlways)
    std::optional<std::uint32_t> vanishBlock;  // vanish_block=K
    Answer verify = Answer::Ok;                // verify=ok|nak|silent
    std::uint32_t failCalls = 0;               // fail=list,open,... (FailCall bits)
    Pending pending = Pending::Reads;          // pending=none|reads|writes|all
    double timeScale = 1.0;                    // timescale=X; 0 = instant, 1 = real time
    std::uint32_t latencyMs = 16;              // latency_ms=N: FTDI latency timer
    std::uint32_t eraseMs = 1500;              // erase_ms=N: erase duration
    std::uint32_t keepAliveMs = 400;           // keepalive_ms=N: 0x16 interval during erase
    std::uint32_t programMs = 2;               // program_ms=N: programming time per block
    std::uint32_t verifyMs = 50;               // verify_ms=N: time to sum the flash at verify
    std::string tracePath;                     // trace=PATH: one line per driver call
    std::string flashPath;                     // flash=PATH: the flash image, rewritten at
                                               // every close and after every verify

    bool Fails(FailCall call) const { return (failCalls & call) != 0; }
};

// Parses a TOLVEX_SIM value: either "key=value;key=value..." (';' or newlines between pairs,
// blanks around keys and values ignored, '#' starts a comment line) or, when the value holds
// no '=', the path of a file holding such text. Empty text is the default scenario. On failure
// returns false, leaves `out` untouched and explains in `error`. Blocks only while reading the
// file.
bool ParseScenario(std::string_view text, Scenario& out, std::string& error);

// Replaces the process's simulated bus with a fresh one built from `scenario` (any previous
// bus's open handles become invalid and waiting calls on it return) and returns the table of
// the fourteen functions that drive the installed bus. The table is the same object on every
// call and stays valid for the life of the process. Opens/truncates the trace file.
const D2xxEntryPoints& InstallSimulator(const Scenario& scenario);

// Location ids the simulated devices report: device i has 0x2111 + 0x100 * i.
std::uint32_t LocationIdOf(std::uint32_t deviceIndex);

// One XW frame as the Tolvex device received it, from 'X' to the tag byte.
struct ReceivedFrame {
    std::vector<std::uint8_t> bytes;
    bool acked = false;  // false: answered 0x15 (or not at all when the device vanished)
};

// One handle FT_W32_CreateFile returned, in opening order.
struct HandleRecord {
    D2xxHandle handle = nullptr;
    std::uint32_t locationId = 0;
    std::uint32_t closes = 0;  // FT_W32_CloseHandle calls with this handle, failed ones too
};

// A copy of what the installed bus has seen, taken under its lock.
struct Snapshot {
    std::vector<std::uint8_t> flash;           // bytes the device accepted since the last erase
    std::uint32_t deviceSum = 0;               // the device's own sum of `flash`
    std::vector<ReceivedFrame> frames;         // every XW frame, NAKed ones included
    std::vector<std::uint8_t> hostBytes;       // every byte written to the Tolvex device
    std::uint32_t identifyCount = 0;           // "XX" commands the device heard
    std::uint32_t eraseCount = 0;              // "XE" commands the device heard
    std::uint32_t verifyCount = 0;             // "XV" commands the device heard
    std::uint32_t opens = 0;                   // handles successfully created
    std::uint32_t closes = 0;                  // FT_W32_CloseHandle calls, failed ones too
    std::vector<HandleRecord> handles;         // per handle, in opening order
    std::uint32_t binds = 0;                   // BindInProcess loads (Ok, MissingEntryPoint)
    std::uint32_t releases = 0;                // bindings released (through onRelease)
    bool vanished = false;                     // the vanish fault has struck
    bool lineOk = false;                       // the last line settings let the device hear
    D2xxDcb initialDcb{};                      // what FT_W32_GetCommState reports before any set
    std::optional<D2xxDcb> lastDcb;            // the last block passed to FT_W32_SetCommState
    std::optional<D2xxTimeouts> lastTimeouts;  // the last FT_W32_SetCommTimeouts values
    std::vector<std::string> calls;            // the trace lines, also kept without trace=PATH
};

// Copies the installed bus's state. Does not block beyond taking the lock.
Snapshot Inspect();

// Fills `out` for in-process use of the installed bus, as BindD2xx would for the real
// library: entryPoints = the simulator's table, detail = "in-process simulator", and an
// onRelease that counts the release (Snapshot::releases). `simulate` lets a test act out the
// loader's failures: NotFound leaves `out` empty and counts nothing; MissingEntryPoint acts
// out a library that loaded but lacks a name: no entry points, the missing name
// ("FT_W32_WaitCommEvent") in detail, yet a bind is counted and onRelease set, so a test sees
// whether the caller releases a failed binding.
D2xxBindResult BindInProcess(D2xxBinding& out, D2xxBindResult simulate = D2xxBindResult::Ok);

}  // namespace tolvex::sim
