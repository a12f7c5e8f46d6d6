#include "link/tests/fake_d2xx.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace tolvex::testing {
namespace {

std::unique_ptr<FakeD2xx>& Slot() {
    static std::unique_ptr<FakeD2xx> fake;
    return fake;
}

std::uint64_t AsNumber(const void* pointer) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

bool IsZeroed(const D2xxOverlapped* overlapped) {
    if (overlapped == nullptr) {
        return false;
    }
    D2xxOverlapped zero{};
    return std::memcmp(overlapped, &zero, sizeof zero) == 0;
}

// The C-linkage trampolines the table points at.
extern "C" {
D2xxHandle TOLVEX_D2XX_CALL TolvexFakeCreateFile(const char* name, D2xxDword access,
                                                 D2xxDword share, void* security,
                                                 D2xxDword creation, D2xxDword flags,
                                                 void* templateFile) {
    return FakeD2xx::Instance().CreateFile(name, access, share, security, creation, flags,
                                           templateFile);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeCloseHandle(D2xxHandle handle) {
    return FakeD2xx::Instance().CloseHandle(handle);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeSetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    return FakeD2xx::Instance().SetCommState(handle, dcb);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeWriteFile(D2xxHandle handle, void* buffer, D2xxDword count,
                                              D2xxDword* written, D2xxOverlapped* overlapped) {
    return FakeD2xx::Instance().WriteFile(handle, buffer, count, written, overlapped);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeReadFile(D2xxHandle handle, void* buffer, D2xxDword count,
                                             D2xxDword* read, D2xxOverlapped* overlapped) {
    return FakeD2xx::Instance().ReadFile(handle, buffer, count, read, overlapped);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeWaitCommEvent(D2xxHandle handle, D2xxDword* event,
                                                  D2xxOverlapped* overlapped) {
    return FakeD2xx::Instance().WaitCommEvent(handle, event, overlapped);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeSetupComm(D2xxHandle handle, D2xxDword readQueue,
                                              D2xxDword writeQueue) {
    return FakeD2xx::Instance().SetupComm(handle, readQueue, writeQueue);
}
D2xxStatus TOLVEX_D2XX_CALL TolvexFakeListDevices(void* arg1, void* arg2, D2xxDword flags) {
    return FakeD2xx::Instance().ListDevices(arg1, arg2, flags);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeGetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    return FakeD2xx::Instance().GetCommState(handle, dcb);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeSetCommMask(D2xxHandle handle, D2xxDword mask) {
    return FakeD2xx::Instance().SetCommMask(handle, mask);
}
D2xxDword TOLVEX_D2XX_CALL TolvexFakeGetLastError(D2xxHandle handle) {
    return FakeD2xx::Instance().GetLastError(handle);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeGetOverlappedResult(D2xxHandle handle,
                                                        D2xxOverlapped* overlapped,
                                                        D2xxDword* transferred, D2xxBool wait) {
    return FakeD2xx::Instance().GetOverlappedResult(handle, overlapped, transferred, wait);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakeSetCommTimeouts(D2xxHandle handle, D2xxTimeouts* timeouts) {
    return FakeD2xx::Instance().SetCommTimeouts(handle, timeouts);
}
D2xxBool TOLVEX_D2XX_CALL TolvexFakePurgeComm(D2xxHandle handle, D2xxDword mask) {
    return FakeD2xx::Instance().PurgeComm(handle, mask);
}
}

}  // namespace

FakeD2xx& FakeD2xx::Reset() {
    Slot().reset(new FakeD2xx());
    return *Slot();
}

FakeD2xx& FakeD2xx::Instance() {
    if (!Slot()) {
        Reset();
    }
    return *Slot();
}

const D2xxEntryPoints& FakeD2xx::Table() {
    static const D2xxEntryPoints table = [] {
        D2xxEntryPoints t;
        t.FT_W32_CreateFile = &TolvexFakeCreateFile;
        t.FT_W32_CloseHandle = &TolvexFakeCloseHandle;
        t.FT_W32_SetCommState = &TolvexFakeSetCommState;
        t.FT_W32_WriteFile = &TolvexFakeWriteFile;
        t.FT_W32_ReadFile = &TolvexFakeReadFile;
        t.FT_W32_WaitCommEvent = &TolvexFakeWaitCommEvent;
        t.FT_W32_SetupComm = &TolvexFakeSetupComm;
        t.FT_ListDevices = &TolvexFakeListDevices;
        t.FT_W32_GetCommState = &TolvexFakeGetCommState;
        t.FT_W32_SetCommMask = &TolvexFakeSetCommMask;
        t.FT_W32_GetLastError = &TolvexFakeGetLastError;
        t.FT_W32_GetOverlappedResult = &TolvexFakeGetOverlappedResult;
        t.FT_W32_SetCommTimeouts = &TolvexFakeSetCommTimeouts;
        t.FT_W32_PurgeComm = &TolvexFakePurgeComm;
        return t;
    }();
    return table;
}

FakeD2xx::FakeD2xx() {
    // What a freshly plugged-in device might report: every field nonzero so a test can tell
    // a preserved field from a cleared one.
    dcb_.length = sizeof(D2xxDcb);
    dcb_.baudRate = 9600;
    dcb_.flags = kDcbBinary | kDcbParityCheck | kDcbOutxCtsFlow | (1u << 4) | kDcbOutX | kDcbInX |
                 kDcbErrorChar | kDcbNullStrip | (1u << 12) | kDcbAbortOnError | (1u << 17);
    dcb_.reserved = 0x5151;
    dcb_.xonLimit = 2048;
    dcb_.xoffLimit = 512;
    dcb_.byteSize = 7;
    dcb_.parity = 2;
    dcb_.stopBits = 2;
    dcb_.xonChar = 0x11;
    dcb_.xoffChar = 0x13;
    dcb_.errorChar = '?';
    dcb_.eofChar = 0x1A;
    dcb_.evtChar = '\n';
    dcb_.reserved1 = 0x7E7E;
}

void FakeD2xx::FailCall(std::string_view function, int nth, D2xxDword code) {
    failRules_.push_back({std::string(function), nth, code});
}

void FakeD2xx::QueueReply(std::vector<std::uint8_t> chunk) {
    replies_.push_back(std::move(chunk));
}

void FakeD2xx::QueueReply(std::string_view text) {
    replies_.emplace_back(text.begin(), text.end());
}

std::vector<std::string> FakeD2xx::CallNames() const {
    std::vector<std::string> names;
    for (const FakeCall& call : calls_) {
        names.push_back(call.name);
    }
    return names;
}

int FakeD2xx::CountCalls(std::string_view function) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const FakeCall& c) { return c.name == function; }));
}

std::vector<FakeCall> FakeD2xx::CallsOf(std::string_view function) const {
    std::vector<FakeCall> out;
    for (const FakeCall& call : calls_) {
        if (call.name == function) {
            out.push_back(call);
        }
    }
    return out;
}

int FakeD2xx::CloseCount(D2xxHandle handle) const {
    auto it = closes_.find(handle);
    return it == closes_.end() ? 0 : it->second;
}

int FakeD2xx::TotalCloses() const {
    int total = 0;
    for (const auto& entry : closes_) {
        total += entry.second;
    }
    return total;
}

D2xxDword FakeD2xx::LocationOf(D2xxHandle handle) const {
    auto it = locations_.find(handle);
    return it == locations_.end() ? 0 : it->second;
}

FakeCall& FakeD2xx::Record(std::string_view function, D2xxHandle handle,
                           std::vector<std::uint64_t> args) {
    FakeCall call;
    call.name = std::string(function);
    call.handle = handle;
    call.args = std::move(args);
    calls_.push_back(std::move(call));
    return calls_.back();
}

bool FakeD2xx::ShouldFail(std::string_view function) {
    const int n = CountCalls(function);  // includes the call just recorded
    for (const FailRule& rule : failRules_) {
        if (rule.function == function && (rule.nth == 0 || rule.nth == n)) {
            lastError_ = rule.code;
            return true;
        }
    }
    return false;
}

D2xxDword FakeD2xx::DoRead(void* buffer, D2xxDword count) {
    if (replies_.empty() || count == 0) {
        return 0;
    }
    std::vector<std::uint8_t>& chunk = replies_.front();
    const std::size_t n = std::min<std::size_t>(count, chunk.size());
    std::memcpy(buffer, chunk.data(), n);
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    if (chunk.empty()) {
        replies_.pop_front();
    }
    return static_cast<D2xxDword>(n);
}

D2xxDword FakeD2xx::DoWrite(const void* buffer, D2xxDword count) {
    const D2xxDword n = writeLimit_ ? std::min(count, *writeLimit_) : count;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> out(bytes, bytes + n);
    written_.insert(written_.end(), out.begin(), out.end());
    writes_.push_back(out);
    if (onWrite) {
        onWrite(*this, out);
    }
    return n;
}

D2xxHandle FakeD2xx::CreateFile(const char* name, D2xxDword access, D2xxDword share, void* security,
                                D2xxDword creation, D2xxDword flags, void* templateFile) {
    Record("FT_W32_CreateFile", nullptr,
           {AsNumber(name), access, share, AsNumber(security), creation, flags,
            AsNumber(templateFile)});
    if (ShouldFail("FT_W32_CreateFile")) {
        return D2xxInvalidHandle();
    }
    // Opened by location: the "name" is the location id itself.
    const auto location = static_cast<D2xxDword>(reinterpret_cast<std::uintptr_t>(name));
    if (std::find(devices_.begin(), devices_.end(), location) == devices_.end()) {
        lastError_ = kDefaultError;
        return D2xxInvalidHandle();
    }
    // Distinct, never dereferenced values.
    auto* handle = reinterpret_cast<D2xxHandle>(std::uintptr_t{0x1000} + 0x10 * opened_.size());
    opened_.push_back(handle);
    locations_[handle] = location;
    return handle;
}

D2xxBool FakeD2xx::CloseHandle(D2xxHandle handle) {
    Record("FT_W32_CloseHandle", handle);
    ++closes_[handle];
    return ShouldFail("FT_W32_CloseHandle") ? 0 : 1;
}

D2xxBool FakeD2xx::SetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    FakeCall& call = Record("FT_W32_SetCommState", handle);
    call.dcb = *dcb;
    if (ShouldFail("FT_W32_SetCommState")) {
        return 0;
    }
    dcb_ = *dcb;
    return 1;
}

D2xxBool FakeD2xx::WriteFile(D2xxHandle handle, void* buffer, D2xxDword count, D2xxDword* written,
                             D2xxOverlapped* overlapped) {
    FakeCall& call = Record("FT_W32_WriteFile", handle, {count, AsNumber(overlapped)});
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    call.bytes.assign(bytes, bytes + count);
    call.overlappedZeroed = IsZeroed(overlapped);
    *written = 0;
    if (ShouldFail("FT_W32_WriteFile")) {
        return 0;
    }
    if (pendingWrites_) {
        pending_ = PendingTransfer{overlapped, false, buffer, count};
        lastError_ = kD2xxIoPending;
        return 0;
    }
    *written = DoWrite(buffer, count);
    return 1;
}

D2xxBool FakeD2xx::ReadFile(D2xxHandle handle, void* buffer, D2xxDword count, D2xxDword* read,
                            D2xxOverlapped* overlapped) {
    FakeCall& call = Record("FT_W32_ReadFile", handle, {count, AsNumber(overlapped)});
    call.overlappedZeroed = IsZeroed(overlapped);
    *read = 0;
    if (ShouldFail("FT_W32_ReadFile")) {
        return 0;
    }
    if (pendingReads_) {
        pending_ = PendingTransfer{overlapped, true, buffer, count};
        lastError_ = kD2xxIoPending;
        return 0;
    }
    *read = DoRead(buffer, count);
    return 1;
}

D2xxBool FakeD2xx::WaitCommEvent(D2xxHandle handle, D2xxDword* event, D2xxOverlapped*) {
    Record("FT_W32_WaitCommEvent", handle);
    if (event != nullptr) {
        *event = 0;
    }
    lastError_ = kDefaultError;
    return 0;
}

D2xxBool FakeD2xx::SetupComm(D2xxHandle handle, D2xxDword readQueue, D2xxDword writeQueue) {
    Record("FT_W32_SetupComm", handle, {readQueue, writeQueue});
    return ShouldFail("FT_W32_SetupComm") ? 0 : 1;
}

D2xxStatus FakeD2xx::ListDevices(void* arg1, void* arg2, D2xxDword flags) {
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    Record("FT_ListDevices", nullptr, {static_cast<std::uint64_t>(index), flags});
    if (ShouldFail("FT_ListDevices")) {
        return static_cast<D2xxStatus>(lastError_);
    }
    if (index >= devices_.size()) {
        return kDeviceNotFound;
    }
    *static_cast<D2xxDword*>(arg2) = devices_[index];
    return 0;
}

D2xxBool FakeD2xx::GetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    FakeCall& call = Record("FT_W32_GetCommState", handle);
    if (ShouldFail("FT_W32_GetCommState")) {
        return 0;
    }
    *dcb = dcb_;
    call.dcb = dcb_;
    return 1;
}

D2xxBool FakeD2xx::SetCommMask(D2xxHandle handle, D2xxDword mask) {
    Record("FT_W32_SetCommMask", handle, {mask});
    return ShouldFail("FT_W32_SetCommMask") ? 0 : 1;
}

D2xxDword FakeD2xx::GetLastError(D2xxHandle handle) {
    Record("FT_W32_GetLastError", handle);
    ShouldFail("FT_W32_GetLastError");  // a failure rule replaces the code reported
    return lastError_;
}

D2xxBool FakeD2xx::GetOverlappedResult(D2xxHandle handle, D2xxOverlapped* overlapped,
                                       D2xxDword* transferred, D2xxBool wait) {
    Record("FT_W32_GetOverlappedResult", handle,
           {AsNumber(overlapped), static_cast<std::uint64_t>(wait)});
    *transferred = 0;
    std::optional<PendingTransfer> transfer = std::exchange(pending_, std::nullopt);
    if (ShouldFail("FT_W32_GetOverlappedResult")) {
        return 0;
    }
    // A record other than the one the transfer started with names no transfer.
    if (!transfer || transfer->overlapped != overlapped) {
        lastError_ = kDefaultError;
        return 0;
    }
    *transferred = transfer->isRead ? DoRead(transfer->buffer, transfer->count)
                                    : DoWrite(transfer->buffer, transfer->count);
    return 1;
}

D2xxBool FakeD2xx::SetCommTimeouts(D2xxHandle handle, D2xxTimeouts* timeouts) {
    FakeCall& call = Record("FT_W32_SetCommTimeouts", handle);
    call.timeouts = *timeouts;
    return ShouldFail("FT_W32_SetCommTimeouts") ? 0 : 1;
}

D2xxBool FakeD2xx::PurgeComm(D2xxHandle handle, D2xxDword mask) {
    // The queued replies stay: they stand for what the device sends later, not for bytes
    // already waiting in the receive queue.
    Record("FT_W32_PurgeComm", handle, {mask});
    return ShouldFail("FT_W32_PurgeComm") ? 0 : 1;
}

}  // namespace tolvex::testing
