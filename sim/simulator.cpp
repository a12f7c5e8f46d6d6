// The emulated bus. Host writes are processed synchronously: every byte the host sends is
// stamped with the time it reaches the device at the configured baud, the device's answers
// are stamped with the time they reach the host through the FTDI chip (62-byte packets or the
// latency timer, on 1 ms USB frames), and a read waits on a condition variable until the time
// its bytes are deliverable or its read total runs out. Time is "model time" in microseconds
// since the bus was installed; model time runs at 1/timescale of the real clock, and at time
// scale 0 it is a virtual clock that jumps to whatever a read waits for.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "sim/simulator.h"

namespace tolvex::sim {
namespace {

using Micros = std::int64_t;
constexpr Micros kNever = INT64_MAX;

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kBusy = 0x16;
constexpr std::uint8_t kEraseDoneA = 0x4E;
constexpr std::uint8_t kCommandStart = 0x58;  // 'X'
constexpr std::uint32_t kMaxFramePayload = 250;
constexpr std::uint32_t kDeviceBaud = 500000;
// The FTDI chip sends a USB packet of 64 bytes, two of which are modem status: 62 data bytes.
constexpr std::uint32_t kChipPacketData = 62;
constexpr Micros kUsbFrameUs = 1000;
// The bootloader drops a half-received command after this much silence on the line.
constexpr Micros kCommandTimeoutUs = 100000;

// Win32 error codes FT_W32_GetLastError reports.
constexpr D2xxDword kErrInvalidHandle = 6;
constexpr D2xxDword kErrGenFailure = 31;
constexpr D2xxDword kErrInvalidParameter = 87;
constexpr D2xxDword kErrOperationAborted = 995;
constexpr D2xxDword kErrIoIncomplete = 996;
constexpr D2xxDword kErrDeviceNotConnected = 1167;

// FT_STATUS values FT_ListDevices returns.
constexpr D2xxStatus kFtOk = 0;
constexpr D2xxStatus kFtDeviceNotFound = 2;
constexpr D2xxStatus kFtIoError = 4;
constexpr D2xxStatus kFtInvalidParameter = 6;

constexpr D2xxDword kListNumberOnly = 0x80000000u;
constexpr D2xxDword kOpenBySerial = 0x1u;
constexpr D2xxDword kOpenByDescription = 0x2u;

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

std::mutex gMutex;
std::condition_variable gWake;
std::shared_ptr<Bus> gBus;

D2xxDcb InitialDcb() {
    // Deliberately unsuitable in every field the program must set (9600 baud, 7 data bits,
    // even parity, two stop bits, parity checking, XON/XOFF both ways, null stripping), with
    // distinctive values elsewhere, so a program that forgets a field, or clobbers one it
    // should leave, shows.
    D2xxDcb dcb{};
    dcb.length = sizeof(D2xxDcb);
    dcb.baudRate = 9600;
    dcb.flags =
        kDcbBinary | kDcbParityCheck | (1u << 4) | kDcbOutX | kDcbInX | kDcbNullStrip | (1u << 12);
    dcb.xonLimit = 2048;
    dcb.xoffLimit = 512;
    dcb.byteSize = 7;
    dcb.parity = 2;
    dcb.stopBits = 2;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    dcb.errorChar = '?';
    dcb.eofChar = 0x1A;
    dcb.evtChar = 0x0D;
    return dcb;
}

bool LineOk(const D2xxDcb& dcb) {
    return dcb.baudRate == kDeviceBaud && dcb.byteSize == 8 && dcb.parity == kDcbNoParity &&
           dcb.stopBits == kDcbOneStopBit && (dcb.flags & (kDcbOutX | kDcbInX)) == 0;
}

// --- Time ------------------------------------------------------------------------------------

Micros Now(const Bus& bus) {
    if (bus.scenario.timeScale <= 0) {
        return bus.virtualNow;
    }
    const auto real =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - bus.epoch);
    return static_cast<Micros>(real.count() / bus.scenario.timeScale);
}

Micros FrameCeil(Micros t) {
    return (t + kUsbFrameUs - 1) / kUsbFrameUs * kUsbFrameUs;
}

Micros Ms(std::uint32_t ms) {
    return static_cast<Micros>(ms) * 1000;
}

// Waits until model time `t`, or until the bus is replaced. False when it was replaced.
bool WaitUntil(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Bus>& bus, Micros t) {
    if (bus->scenario.timeScale <= 0) {
        bus->virtualNow = std::max(bus->virtualNow, t);
        return !bus->replaced;
    }
    const double realUs = static_cast<double>(t) * bus->scenario.timeScale;
    const auto until = bus->epoch + std::chrono::ceil<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double, std::micro>(realUs));
    gWake.wait_until(lock, until, [&] { return bus->replaced; });
    return !bus->replaced;
}

// --- Trace -----------------------------------------------------------------------------------

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
    std::string text;
    text.reserve(n * 3);
    char one[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(one, sizeof one, i ? " %02x" : "%02x", bytes[i]);
        text += one;
    }
    return text;
}

std::string HandleText(D2xxHandle h) {
    return Hex(reinterpret_cast<std::uintptr_t>(h));
}

void Trace(Bus& bus, const std::string& line) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ", static_cast<double>(Now(bus)) / 1000.0);
    std::string full = stamp + line;
    if (bus.trace.is_open()) {
        bus.trace << full << '\n';
        bus.trace.flush();
    }
    bus.seen.calls.push_back(std::move(full));
}

void WriteFlashFile(Bus& bus) {
    if (bus.scenario.flashPath.empty()) {
        return;
    }
    std::ofstream out(bus.scenario.flashPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bus.seen.flash.data()),
              static_cast<std::streamsize>(bus.seen.flash.size()));
    if (!out) {
        Trace(bus, "# could not write the flash image to " + bus.scenario.flashPath);
    }
}

// --- The device side -------------------------------------------------------------------------

double ByteTimeUs(std::uint32_t baud) {
    // One start bit, eight data bits, one stop bit.
    return baud == 0 ? 1e9 : 10.0 * 1e6 / static_cast<double>(baud);
}

// The device sends one byte that is ready at `readyAt`; the FTDI chip passes it on to the
// host with the next USB packet: when 62 bytes are waiting, or when the latency timer that
// started with the first waiting byte expires, on a 1 ms frame boundary.
void Reply(Bus& bus, Device& d, std::uint8_t value, Micros readyAt) {
    const Micros start = std::max(readyAt, d.deviceTxFree);
    const Micros arrival = start + static_cast<Micros>(std::llround(ByteTimeUs(kDeviceBaud)));
    d.deviceTxFree = arrival;
    Micros deliver = 0;
    if (d.batchOpen && arrival < d.batchDeliver && d.batchCount < kChipPacketData) {
        ++d.batchCount;
        deliver = d.batchDeliver;
        if (d.batchCount == kChipPacketData) {
            deliver = FrameCeil(arrival);
            const std::size_t earlier = std::min<std::size_t>(kChipPacketData - 1, d.rx.size());
            for (std::size_t i = d.rx.size() - earlier; i < d.rx.size(); ++i) {
                d.rx[i].deliver = std::min(d.rx[i].deliver, deliver);
            }
            d.batchOpen = false;
        }
    } else {
        d.batchOpen = true;
        d.batchCount = 1;
        d.batchDeliver = FrameCeil(arrival + Ms(bus.scenario.latencyMs));
        deliver = d.batchDeliver;
    }
    d.rx.push_back(RxByte{value, arrival, deliver});
    gWake.notify_all();
}

std::string IdentifierText(const Scenario& s) {
    std::string id = s.id ? *s.id : (s.model == Model::Pro ? "M:9.0231" : "m:9.0231");
    id.resize(8, ' ');
    return id;
}

void Identify(Bus& bus, Device& d, Micros t) {
    ++bus.seen.identifyCount;
    const std::string id = IdentifierText(bus.scenario);
    std::size_t n = 8;
    if (bus.identifyShortLeft > 0) {
        --bus.identifyShortLeft;
        n = 7;
    }
    for (std::size_t i = 0; i < n; ++i) {
        Reply(bus, d, static_cast<std::uint8_t>(id[i]), t);
    }
}

void Erase(Bus& bus, Device& d, Micros t) {
    ++bus.seen.eraseCount;
    bus.seen.flash.clear();
    bus.seen.deviceSum = 0;
    bus.blockIndex = 0;
    bus.nakLeft = bus.scenario.nakTimes;
    const Scenario& s = bus.scenario;
    if (s.erase == Answer::Silent) {
        return;
    }
    for (Micros k = Ms(s.keepAliveMs); k < Ms(s.eraseMs); k += Ms(s.keepAliveMs)) {
        Reply(bus, d, kBusy, t + k);
    }
    const std::uint8_t done = s.generation == Generation::A ? kEraseDoneA : kAck;
    Reply(bus, d, s.erase == Answer::Ok ? done : kNak, t + Ms(s.eraseMs));
}

bool TagAccepted(const Scenario& s, std::uint8_t tag, std::uint32_t index, std::uint32_t sum) {
    TagRule rule = s.tag;
    if (rule == TagRule::FollowGeneration) {
        rule = s.generation == Generation::A ? TagRule::Index : TagRule::Sum;
    }
    switch (rule) {
        case TagRule::Index:
            return tag == (index & 0xFFu);
        case TagRule::Sum:
            return tag == ((sum >> 8) & 0xFFu);
        default:
            return true;
    }
}

void Vanish(Bus& bus, Device& d) {
    bus.seen.vanished = true;
    d.present = false;
    d.rx.clear();
    for (auto& [value, h] : bus.handles) {
        if (&bus.devices[h.device] == &d) {
            h.lastError = kErrDeviceNotConnected;
        }
    }
    gWake.notify_all();
}

void FrameComplete(Bus& bus, Device& d, Micros t) {
    const std::vector<std::uint8_t>& f = d.command;
    const std::size_t n = f[2];
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += f[3 + i];
    }
    const std::uint32_t index = bus.blockIndex;
    const Scenario& s = bus.scenario;
    if (s.vanishBlock && *s.vanishBlock == index) {
        bus.seen.frames.push_back(ReceivedFrame{f, false});
        Vanish(bus, d);
        return;
    }
    bool good = f[3 + n] == (sum & 0xFFu) && TagAccepted(s, f[4 + n], index, sum);
    if (good && s.nakBlock && *s.nakBlock == index && bus.nakLeft > 0) {
        if (bus.nakLeft != kNakAlways) {
            --bus.nakLeft;
        }
        good = false;
    }
    bus.seen.frames.push_back(ReceivedFrame{f, good});
    if (!good) {
        Reply(bus, d, kNak, t);
        return;
    }
    bus.seen.flash.insert(bus.seen.flash.end(), f.begin() + 3,
                          f.begin() + 3 + static_cast<std::ptrdiff_t>(n));
    bus.seen.deviceSum += sum;
    ++bus.blockIndex;
    Reply(bus, d, kAck, t + Ms(s.programMs));
}

void Verify(Bus& bus, Device& d, Micros t) {
    ++bus.seen.verifyCount;
    const std::uint32_t hostSum =
        static_cast<std::uint32_t>(d.command[2]) | (static_cast<std::uint32_t>(d.command[3]) << 8);
    WriteFlashFile(bus);
    if (bus.scenario.verify == Answer::Silent) {
        return;
    }
    const bool ok = bus.scenario.verify == Answer::Ok && hostSum == (bus.seen.deviceSum & 0xFFFFu);
    Reply(bus, d, ok ? kAck : kNak, t + Ms(bus.scenario.verifyMs));
}

// The bootloader hears one byte that arrived at `t`. Unknown commands are ignored: it waits
// for the next 'X'.
void Hear(Bus& bus, Device& d, std::uint8_t b, Micros t) {
    if (d.state != ParseState::Idle && t - d.lastHeard > kCommandTimeoutUs) {
        d.state = ParseState::Idle;
    }
    d.lastHeard = t;
    switch (d.state) {
        case ParseState::Idle:
            if (b == kCommandStart) {
                d.command.assign(1, b);
                d.state = ParseState::GotX;
            }
            break;
        case ParseState::GotX:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            if (b == 'X') {
                Identify(bus, d, t);
            } else if (b == 'E') {
                Erase(bus, d, t);
            } else if (b == 'W') {
                d.state = ParseState::Length;
            } else if (b == 'V') {
                d.state = ParseState::VerifyLo;
            }
            break;
        case ParseState::Length:
            d.command.push_back(b);
            if (b == 0 || b > kMaxFramePayload) {
                // Without a sane length the frame's end is unknown: refuse it and ignore the
                // rest of what the host is sending now.
                bus.seen.frames.push_back(ReceivedFrame{d.command, false});
                Reply(bus, d, kNak, t);
                d.state = ParseState::Discard;
            } else {
                d.state = ParseState::Payload;
            }
            break;
        case ParseState::Payload:
            d.command.push_back(b);
            if (d.command.size() == 3u + d.command[2]) {
                d.state = ParseState::Sum;
            }
            break;
        case ParseState::Sum:
            d.command.push_back(b);
            d.state = ParseState::Tag;
            break;
        case ParseState::Tag:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            FrameComplete(bus, d, t);
            break;
        case ParseState::VerifyLo:
            d.command.push_back(b);
            d.state = ParseState::VerifyHi;
            break;
        case ParseState::VerifyHi:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            Verify(bus, d, t);
            break;
        case ParseState::Discard:
            break;
    }
}

// The host's bytes go out on the wire at the configured baud. The bootloader understands them
// only when the line is set as it expects; otherwise it hears garbage and stays silent.
void HostSends(Bus& bus, Device& d, const std::uint8_t* bytes, std::size_t n) {
    const Micros start = std::max(Now(bus), d.hostTxFree);
    const double byteUs = ByteTimeUs(d.dcb.baudRate);
    const bool understood = d.tolvex && LineOk(d.dcb);
    Micros arrival = start;
    for (std::size_t i = 0; i < n && d.present; ++i) {
        arrival = start + static_cast<Micros>(std::llround(static_cast<double>(i + 1) * byteUs));
        if (understood) {
            Hear(bus, d, bytes[i], arrival);
        }
    }
    d.hostTxFree = arrival;
    if (!understood) {
        d.state = ParseState::Idle;
    }
    if (d.state == ParseState::Discard) {
        d.state = ParseState::Idle;
    }
}

// --- Host-side helpers -----------------------------------------------------------------------

std::shared_ptr<Bus> CurrentBus() {
    return gBus;
}

// The open handle behind `h`, or nullptr.
HandleState* FindOpen(Bus& bus, D2xxHandle h) {
    const auto it = bus.handles.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == bus.handles.end() || !it->second.open) {
        return nullptr;
    }
    return &it->second;
}

// Checks a handle for a call that needs a live device; sets the error and returns nullptr
// when the call must fail.
HandleState* Usable(Bus& bus, D2xxHandle h) {
    HandleState* state = FindOpen(bus, h);
    if (state == nullptr) {
        return nullptr;
    }
    if (!bus.devices[state->device].present) {
        state->lastError = kErrDeviceNotConnected;
        return nullptr;
    }
    return state;
}

Micros ReadDeadline(const D2xxTimeouts& t, D2xxDword count, Micros now) {
    if (t.readInterval == 0xFFFFFFFFu && t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
        return now;  // return at once with what is there
    }
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.readTotalMultiplier) * count + t.readTotalConstant;
    if (totalMs == 0) {
        return kNever;  // no read timeout: wait for all the bytes
    }
    return now + static_cast<Micros>(totalMs) * 1000;
}

std::size_t Deliverable(const Device& d, Micros t, std::size_t limit) {
    std::size_t n = 0;
    while (n < d.rx.size() && n < limit && d.rx[n].deliver <= t) {
        ++n;
    }
    return n;
}

// Finishes a read: waits until `count` bytes are deliverable or the deadline passes, then
// moves what is there. False (with the handle's error set) when the read failed.
bool FinishRead(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Bus>& bus, D2xxHandle h,
                std::uint8_t* buffer, D2xxDword count, Micros deadline, D2xxDword& got) {
    got = 0;
    HandleState* state = Usable(*bus, h);
    if (state == nullptr) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    Device* d = &bus->devices[state->device];
    Micros target = deadline;
    if (d->rx.size() >= count) {
        target = std::min(deadline, std::max(Now(*bus), d->rx[count - 1].deliver));
    }
    if (target == kNever) {
        // Nothing is coming and no timeout was set: a real driver would wait forever.
        state->lastError = kErrOperationAborted;
        Trace(*bus, "# read with no timeout set and no reply coming: failed instead of hanging");
        return false;
    }
    if (!WaitUntil(lock, bus, target)) {
        return false;
    }
    state = Usable(*bus, h);  // it may have been closed meanwhile
    if (state == nullptr) {
        return false;
    }
    d = &bus->devices[state->device];
    const std::size_t n = Deliverable(*d, target, count);
    for (std::size_t i = 0; i < n; ++i) {
        buffer[i] = d->rx.front().value;
        d->rx.pop_front();
    }
    got = static_cast<D2xxDword>(n);
    return true;
}

bool PendingWanted(const Scenario& s, bool isRead) {
    switch (s.pending) {
        case Pending::None:
            return false;
        case Pending::Reads:
            return isRead;
        case Pending::Writes:
            return !isRead;
        case Pending::All:
            return true;
    }
    return false;
}

// A setup call that only succeeds or fails.
D2xxBool SetupCall(const char* name, D2xxHandle h, FailCall fault, const std::string& args,
                   const std::function<std::string(Bus&, HandleState&)>& apply) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    HandleState* state = Usable(*bus, h);
    D2xxBool result = 0;
    std::string detail;
    if (state != nullptr && bus->scenario.Fails(fault)) {
        state->lastError = kErrGenFailure;
        detail = " (scripted failure)";
    } else if (state != nullptr) {
        detail = apply(*bus, *state);
        result = 1;
    }
    Trace(*bus, std::string(name) + "(h=" + HandleText(h) + args + ") -> " +
                    std::to_string(result) + detail);
    return result;
}

// --- The fourteen functions ------------------------------------------------------------------

D2xxStatus TOLVEX_D2XX_CALL SimListDevices(void* arg1, void* arg2, D2xxDword flags) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return kFtDeviceNotFound;
    }
    std::vector<const Device*> present;
    for (const Device& d : bus->devices) {
        if (d.present) {
            present.push_back(&d);
        }
    }
    const auto index = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg1));
    D2xxStatus status = kFtOk;
    std::string detail;
    if (bus->scenario.Fails(kFailList)) {
        status = kFtIoError;
    } else if (flags & kListNumberOnly) {
        if (arg1 == nullptr) {
            status = kFtInvalidParameter;
        } else {
            *static_cast<D2xxDword*>(arg1) = static_cast<D2xxDword>(present.size());
            detail = " count=" + std::to_string(present.size());
        }
    } else if ((flags & kD2xxListByIndex) == 0 || arg2 == nullptr) {
        status = kFtInvalidParameter;
    } else if (index >= present.size()) {
        status = kFtDeviceNotFound;
    } else {
        const Device& d = *present[index];
        const std::uint32_t what = flags & 0xFFu;
        if (what == kD2xxOpenByLocation) {
            *static_cast<D2xxDword*>(arg2) = d.location;
            detail = " location=" + Hex(d.location);
        } else if (what == kOpenBySerial || what == kOpenByDescription) {
            char text[16];
            if (what == kOpenBySerial) {
                std::snprintf(text, sizeof text, "TVX%05X", d.location);
            } else {
                std::snprintf(text, sizeof text, "%s", d.tolvex ? "Tolvex USB" : "FT232R USB UART");
            }
            std::memcpy(arg2, text, std::strlen(text) + 1);
            detail = std::string(" text=") + text;
        } else {
            status = kFtInvalidParameter;
        }
    }
    Trace(*bus, "FT_ListDevices(arg1=" + Hex(reinterpret_cast<std::uintptr_t>(arg1)) +
                    ", flags=" + Hex(flags) + ") -> " + std::to_string(status) + detail);
    return status;
}

D2xxHandle TOLVEX_D2XX_CALL SimCreateFile(const char* name, D2xxDword access, D2xxDword share,
                                          void* security, D2xxDword creation, D2xxDword flags,
                                          void* templateFile) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return D2xxInvalidHandle();
    }
    std::string args = "name=";
    std::size_t found = bus->devices.size();
    if (flags & kD2xxOpenByLocation) {
        const auto location = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(name));
        args += Hex(location);
        for (std::size_t i = 0; i < bus->devices.size(); ++i) {
            if (bus->devices[i].present && bus->devices[i].location == location) {
                found = i;
            }
        }
    } else {
        args += name ? std::string("\"") + name + "\"" : "null";
    }
    args += ", access=" + Hex(access) + ", share=" + Hex(share) +
            ", security=" + Hex(reinterpret_cast<std::uintptr_t>(security)) +
            ", creation=" + std::to_string(creation) + ", flags=" + Hex(flags) +
            ", template=" + Hex(reinterpret_cast<std::uintptr_t>(templateFile));
    D2xxHandle result = D2xxInvalidHandle();
    std::string why;
    if (bus->scenario.Fails(kFailOpen)) {
        why = " (scripted failure)";
    } else if (found == bus->devices.size()) {
        why = " (no such device)";
    } else if (bus->devices[found].open) {
        why = " (already open)";
    } else {
        Device& d = bus->devices[found];
        d.open = true;
        d.dcb = InitialDcb();
        d.timeouts = D2xxTimeouts{};
        d.rx.clear();
        d.batchOpen = false;
        const std::uintptr_t value = bus->nextHandle++;
        bus->handles[value] = HandleState{found, true, 0, {}};
        result = reinterpret_cast<D2xxHandle>(value);
        ++bus->seen.opens;
        bus->seen.handles.push_back(HandleRecord{result, d.location, 0});
    }
    Trace(*bus, "FT_W32_CreateFile(" + args + ") -> " + HandleText(result) + why);
    return result;
}

D2xxBool TOLVEX_D2XX_CALL SimCloseHandle(D2xxHandle h) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    ++bus->seen.closes;
    for (HandleRecord& record : bus->seen.handles) {
        if (record.handle == h) {
            ++record.closes;
        }
    }
    D2xxBool result = 0;
    std::string why;
    HandleState* state = FindOpen(*bus, h);
    if (state == nullptr) {
        why = " (not open)";
    } else {
        Device& d = bus->devices[state->device];
        state->open = false;
        state->pending.clear();
        d.open = false;
        if (!d.present) {
            state->lastError = kErrDeviceNotConnected;
            why = " (device gone)";
        } else if (bus->scenario.Fails(kFailClose)) {
            state->lastError = kErrGenFailure;
            why = " (scripted failure; handle released)";
        } else {
            result = 1;
        }
        if (d.tolvex) {
            WriteFlashFile(*bus);
        }
    }
    Trace(*bus, "FT_W32_CloseHandle(h=" + HandleText(h) + ") -> " + std::to_string(result) + why);
    gWake.notify_all();
    return result;
}

D2xxBool TOLVEX_D2XX_CALL SimSetupComm(D2xxHandle h, D2xxDword readQueue, D2xxDword writeQueue) {
    return SetupCall("FT_W32_SetupComm", h, kFailSetupComm,
                     ", rx=" + std::to_string(readQueue) + ", tx=" + std::to_string(writeQueue),
                     [](Bus&, HandleState&) { return std::string(); });
}

std::string DcbText(const D2xxDcb& d) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "baud=%u flags=0x%x bits=%u parity=%u stop=%u xonlim=%u xofflim=%u", d.baudRate,
                  d.flags, d.byteSize, d.parity, d.stopBits, d.xonLimit, d.xoffLimit);
    return text;
}

D2xxBool TOLVEX_D2XX_CALL SimGetCommState(D2xxHandle h, D2xxDcb* dcb) {
    if (dcb == nullptr) {
        return 0;
    }
    return SetupCall("FT_W32_GetCommState", h, kFailGetCommState, "",
                     [dcb](Bus& bus, HandleState& s) {
                         *dcb = bus.devices[s.device].dcb;
                         return " " + DcbText(*dcb);
                     });
}

D2xxBool TOLVEX_D2XX_CALL SimSetCommState(D2xxHandle h, D2xxDcb* dcb) {
    if (dcb == nullptr) {
        return 0;
    }
    return SetupCall(
        "FT_W32_SetCommState", h, kFailSetCommState, ", " + DcbText(*dcb),
        [dcb](Bus& bus, HandleState& s) {
            Device& d = bus.devices[s.device];
            d.dcb = *dcb;
            if (d.tolvex) {
                bus.seen.lastDcb = *dcb;
                bus.seen.lineOk = LineOk(*dcb);
            }
            return std::string(LineOk(*dcb) ? "" : " (the device will not hear this line)");
        });
}

D2xxBool TOLVEX_D2XX_CALL SimSetCommMask(D2xxHandle h, D2xxDword mask) {
    return SetupCall("FT_W32_SetCommMask", h, kFailSetCommMask, ", mask=" + Hex(mask),
                     [](Bus&, HandleState&) { return std::string(); });
}

D2xxBool TOLVEX_D2XX_CALL SimSetCommTimeouts(D2xxHandle h, D2xxTimeouts* t) {
    if (t == nullptr) {
        return 0;
    }
    char args[96];
    std::snprintf(args, sizeof args, ", %u, %u, %u, %u, %u", t->readInterval,
                  t->readTotalMultiplier, t->readTotalConstant, t->writeTotalMultiplier,
                  t->writeTotalConstant);
    return SetupCall("FT_W32_SetCommTimeouts", h, kFailTimeouts, args,
                     [t](Bus& bus, HandleState& s) {
                         Device& d = bus.devices[s.device];
                         d.timeouts = *t;
                         if (d.tolvex) {
                             bus.seen.lastTimeouts = *t;
                         }
                         return std::string();
                     });
}

D2xxBool TOLVEX_D2XX_CALL SimPurgeComm(D2xxHandle h, D2xxDword mask) {
    return SetupCall("FT_W32_PurgeComm", h, static_cast<FailCall>(0), ", mask=" + Hex(mask),
                     [mask](Bus& bus, HandleState& s) {
                         if ((mask & kD2xxPurgeRxClear) == 0) {
                             return std::string();
                         }
                         // Bytes already in the chip or the driver go; bytes the device has
                         // yet to send still come.
                         Device& d = bus.devices[s.device];
                         const Micros now = Now(bus);
                         while (!d.rx.empty() && d.rx.front().arrival <= now) {
                             d.rx.pop_front();
                         }
                         if (d.rx.empty()) {
                             d.batchOpen = false;
                         }
                         return std::string();
                     });
}

D2xxBool TOLVEX_D2XX_CALL SimWriteFile(D2xxHandle h, void* buffer, D2xxDword count,
                                       D2xxDword* written, D2xxOverlapped* ov) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::string line = "FT_W32_WriteFile(h=" + HandleText(h) + ", n=" + std::to_string(count) +
                       ", ov=" + (ov ? "set" : "null") + ") [" +
                       (bytes ? HexBytes(bytes, count) : std::string("null")) + "] -> ";
    HandleState* state = Usable(*bus, h);
    if (state == nullptr || bytes == nullptr) {
        if (state != nullptr) {
            state->lastError = kErrInvalidParameter;
        }
        Trace(*bus, line + "0");
        return 0;
    }
    Device& d = bus->devices[state->device];
    if (d.tolvex) {
        bus->seen.hostBytes.insert(bus->seen.hostBytes.end(), bytes, bytes + count);
    }
    HostSends(*bus, d, bytes, count);
    if (ov != nullptr) {
        ov->internalHigh = count;
    }
    if (ov != nullptr && PendingWanted(bus->scenario, false)) {
        state->pending[ov] = PendingOp{false, nullptr, count, kNever};
        state->lastError = kD2xxIoPending;
        if (written != nullptr) {
            *written = 0;
        }
        Trace(*bus, line + "0 err=997 (pending)");
        return 0;
    }
    if (written != nullptr) {
        *written = count;
    }
    Trace(*bus, line + "1 written=" + std::to_string(count));
    return 1;
}

D2xxBool TOLVEX_D2XX_CALL SimReadFile(D2xxHandle h, void* buffer, D2xxDword count, D2xxDword* read,
                                      D2xxOverlapped* ov) {
    std::unique_lock lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    const std::string head = "FT_W32_ReadFile(h=" + HandleText(h) + ", n=" + std::to_string(count) +
                             ", ov=" + (ov ? "set" : "null") + ") -> ";
    HandleState* state = Usable(*bus, h);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (state == nullptr || (bytes == nullptr && count > 0)) {
        if (state != nullptr) {
            state->lastError = kErrInvalidParameter;
        }
        Trace(*bus, head + "0");
        return 0;
    }
    if (read != nullptr) {
        *read = 0;
    }
    const Device& d = bus->devices[state->device];
    const Micros now = Now(*bus);
    const Micros deadline = ReadDeadline(d.timeouts, count, now);
    const bool atOnce = Deliverable(d, now, count) == count || deadline <= now;
    if (ov != nullptr && (bus->scenario.pending == Pending::All ||
                          (!atOnce && PendingWanted(bus->scenario, true)))) {
        state->pending[ov] = PendingOp{true, bytes, count, deadline};
        state->lastError = kD2xxIoPending;
        Trace(*bus, head + "0 err=997 (pending)");
        return 0;
    }
    D2xxDword got = 0;
    if (!FinishRead(lock, bus, h, bytes, count, deadline, got)) {
        Trace(*bus, head + "0");
        return 0;
    }
    if (read != nullptr) {
        *read = got;
    }
    if (ov != nullptr) {
        ov->internalHigh = got;
    }
    Trace(*bus, head + "1 read=" + std::to_string(got) + " [" + HexBytes(bytes, got) + "]");
    return 1;
}

D2xxBool TOLVEX_D2XX_CALL SimGetOverlappedResult(D2xxHandle h, D2xxOverlapped* ov,
                                                 D2xxDword* transferred, D2xxBool wait) {
    std::unique_lock lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    const std::string head = "FT_W32_GetOverlappedResult(h=" + HandleText(h) +
                             ", wait=" + std::to_string(wait) + ") -> ";
    HandleState* state = Usable(*bus, h);
    if (state == nullptr || ov == nullptr) {
        if (state != nullptr) {
            state->lastError = kErrInvalidParameter;
        }
        Trace(*bus, head + "0");
        return 0;
    }
    const auto it = state->pending.find(ov);
    if (it == state->pending.end()) {
        // Nothing outstanding: report what the record says finished last.
        if (transferred != nullptr) {
            *transferred = static_cast<D2xxDword>(ov->internalHigh);
        }
        Trace(*bus, head + "1 (nothing pending) n=" + std::to_string(ov->internalHigh));
        return 1;
    }
    const PendingOp op = it->second;
    if (!op.isRead) {
        state->pending.erase(it);
        if (transferred != nullptr) {
            *transferred = op.count;
        }
        Trace(*bus, head + "1 written=" + std::to_string(op.count));
        return 1;
    }
    if (!wait) {
        const Device& d = bus->devices[state->device];
        const Micros now = Now(*bus);
        if (Deliverable(d, now, op.count) < op.count && now < op.deadline) {
            state->lastError = kErrIoIncomplete;
            Trace(*bus, head + "0 err=996 (still under way)");
            return 0;
        }
    }
    state->pending.erase(it);
    D2xxDword got = 0;
    if (!FinishRead(lock, bus, h, op.buffer, op.count, op.deadline, got)) {
        Trace(*bus, head + "0");
        return 0;
    }
    ov->internalHigh = got;
    if (transferred != nullptr) {
        *transferred = got;
    }
    Trace(*bus, head + "1 read=" + std::to_string(got) + " [" + HexBytes(op.buffer, got) + "]");
    return 1;
}

D2xxDword TOLVEX_D2XX_CALL SimGetLastError(D2xxHandle h) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return kErrInvalidHandle;
    }
    const auto it = bus->handles.find(reinterpret_cast<std::uintptr_t>(h));
    const D2xxDword error = it == bus->handles.end() ? kErrInvalidHandle : it->second.lastError;
    Trace(*bus, "FT_W32_GetLastError(h=" + HandleText(h) + ") -> " + std::to_string(error));
    return error;
}

D2xxBool TOLVEX_D2XX_CALL SimWaitCommEvent(D2xxHandle h, D2xxDword*, D2xxOverlapped*) {
    std::lock_guard lock(gMutex);
    const auto bus = CurrentBus();
    if (!bus) {
        return 0;
    }
    // The program never waits for line events; the call is refused so that doing so shows.
    if (HandleState* state = FindOpen(*bus, h)) {
        state->lastError = kErrInvalidParameter;
    }
    Trace(*bus, "FT_W32_WaitCommEvent(h=" + HandleText(h) + ") -> 0 (not supported)");
    return 0;
}

const D2xxEntryPoints kTable = [] {
    D2xxEntryPoints t;
    t.FT_W32_CreateFile = &SimCreateFile;
    t.FT_W32_CloseHandle = &SimCloseHandle;
    t.FT_W32_SetCommState = &SimSetCommState;
    t.FT_W32_WriteFile = &SimWriteFile;
    t.FT_W32_ReadFile = &SimReadFile;
    t.FT_W32_WaitCommEvent = &SimWaitCommEvent;
    t.FT_W32_SetupComm = &SimSetupComm;
    t.FT_ListDevices = &SimListDevices;
    t.FT_W32_GetCommState = &SimGetCommState;
    t.FT_W32_SetCommMask = &SimSetCommMask;
    t.FT_W32_GetLastError = &SimGetLastError;
    t.FT_W32_GetOverlappedResult = &SimGetOverlappedResult;
    t.FT_W32_SetCommTimeouts = &SimSetCommTimeouts;
    t.FT_W32_PurgeComm = &SimPurgeComm;
    return t;
}();

std::string ScenarioSummary(const Scenario& s) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << "devices=" << s.devices << " model=" << (s.model == Model::Pro ? "pro" : "standard")
         << " id=\"" << IdentifierText(s)
         << "\" generation=" << (s.generation == Generation::A ? "A" : "B")
         << " timescale=" << s.timeScale << " latency_ms=" << s.latencyMs
         << " fail=" << Hex(s.failCalls);
    return text.str();
}

}  // namespace

const D2xxEntryPoints& InstallSimulator(const Scenario& scenario) {
    auto bus = std::make_shared<Bus>();
    bus->scenario = scenario;
    bus->identifyShortLeft = scenario.identifyShort;
    bus->nakLeft = scenario.nakTimes;
    for (std::uint32_t i = 0; i < scenario.devices; ++i) {
        Device d;
        d.location = LocationIdOf(i);
        d.tolvex = i == 0;
        d.dcb = InitialDcb();
        bus->devices.push_back(std::move(d));
    }
    bus->seen.initialDcb = InitialDcb();
    if (!scenario.tracePath.empty()) {
        bus->trace.open(scenario.tracePath, std::ios::trunc);
    }
    std::lock_guard lock(gMutex);
    if (gBus) {
        gBus->replaced = true;
    }
    gBus = std::move(bus);
    Trace(*gBus, "# simulator installed: " + ScenarioSummary(scenario));
    gWake.notify_all();
    return kTable;
}

std::uint32_t LocationIdOf(std::uint32_t deviceIndex) {
    return 0x2111u + 0x100u * deviceIndex;
}

Snapshot Inspect() {
    std::lock_guard lock(gMutex);
    return gBus ? gBus->seen : Snapshot{};
}

D2xxBindResult BindInProcess(D2xxBinding& out, D2xxBindResult simulate) {
    out.entryPoints = D2xxEntryPoints{};
    out.onRelease = nullptr;
    if (simulate == D2xxBindResult::NotFound) {
        out.detail = "in-process simulator: library not found (simulated)";
        return simulate;
    }
    if (simulate == D2xxBindResult::MissingEntryPoint) {
        out.detail = "FT_W32_WaitCommEvent";
        return simulate;
    }
    std::lock_guard lock(gMutex);
    std::shared_ptr<Bus> bus = gBus;
    if (bus) {
        ++bus->seen.binds;
    }
    out.entryPoints = kTable;
    out.detail = "in-process simulator";
    out.onRelease = [bus] {
        if (bus) {
            std::lock_guard relock(gMutex);
            ++bus->seen.releases;
        }
    };
    return D2xxBindResult::Ok;
}

}  // namespace tolvex::sim
