// The fourteen driver functions over the installed bus, and the host-side helpers they share:
// handle checks, read deadlines, overlapped transfers and setup calls.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "sim/bus.h"

namespace tolvex::sim::detail {
namespace {

// FT_STATUS values FT_ListDevices returns.
constexpr D2xxStatus kFtOk = 0;
constexpr D2xxStatus kFtDeviceNotFound = 2;
constexpr D2xxStatus kFtIoError = 4;
constexpr D2xxStatus kFtInvalidParameter = 6;

constexpr D2xxDword kListNumberOnly = 0x80000000u;
constexpr D2xxDword kOpenBySerial = 0x1u;
constexpr D2xxDword kOpenByDescription = 0x2u;

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

}  // namespace

const D2xxEntryPoints& EntryPoints() {
    return kTable;
}

}  // namespace tolvex::sim::detail
