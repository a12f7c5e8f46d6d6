// A scriptable stand-in for the FTDI driver, for tests of everything above the driver table.
//
// D2xxEntryPoints holds plain function pointers, so the fake is one process-wide instance:
//
//     FakeD2xx& fake = FakeD2xx::Reset();     // a fresh device, every earlier setting gone
//     fake.QueueReply({0x06});                // what the device will answer
//     Link link;
//     ConnectHardware(fake.Table(), link);
//     ... fake.Calls(), fake.Written(), fake.CloseCount(handle) ...
//
// Every call is recorded in order with its arguments. The device side is a queue of reply
// chunks: a read takes bytes from the front chunk only, up to the count asked for, so a chunk
// shorter than the read gives a short read (what the driver returns when its read total
// timeout runs out) and the next chunk is what arrives after that. FT_W32_PurgeComm leaves
// the queue alone (the chunks stand for what the device sends later). Reset() must not run
// while a Link made from the old fake is still open. Not thread-safe: the link is only ever
// driven from one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/d2xx.h"

namespace tolvex::testing {

// One recorded driver call.
struct FakeCall {
    std::string name;             // e.g. "FT_W32_SetupComm"
    D2xxHandle handle = nullptr;  // the handle passed (nullptr for FT_ListDevices/CreateFile)
    // The other scalar arguments in the order the function takes them; pointers that carry
    // a value (the device index, the location id used as a name) appear as that value:
    //   FT_ListDevices            {index, flags}
    //   FT_W32_CreateFile         {name, access, share, security, creation, flags, template}
    //   FT_W32_SetupComm          {readQueue, writeQueue}
    //   FT_W32_SetCommMask, FT_W32_PurgeComm   {mask}
    //   FT_W32_WriteFile, FT_W32_ReadFile      {count, address of the overlapped record}
    //   FT_W32_GetOverlappedResult             {address of the overlapped record, wait}
    std::vector<std::uint64_t> args;
    std::optional<D2xxDcb> dcb;            // SetCommState: as passed; GetCommState: as returned
    std::optional<D2xxTimeouts> timeouts;  // SetCommTimeouts
    std::vector<std::uint8_t> bytes;       // WriteFile: the bytes passed
    bool overlappedZeroed = false;         // Write/ReadFile: the record was all zero on entry
};

class FakeD2xx {
  public:
    // Replaces the process's fake with a fresh one and returns it.
    static FakeD2xx& Reset();
    // The current fake (created on first use).
    static FakeD2xx& Instance();
    // The fourteen functions, all driving Instance().
    static const D2xxEntryPoints& Table();

    // --- Set-up -----------------------------------------------------------------------------

    // The listed devices by location id, index 0 first. Default: one device, 0x00000021.
    void SetDevices(std::vector<D2xxDword> locationIds) { devices_ = std::move(locationIds); }

    // The block GetCommState returns until SetCommState changes it. The default is a
    // plausible driver state with flow-control and stripping bits set, 9600 baud, 7E2.
    D2xxDcb& DeviceDcb() { return dcb_; }

    // Fails the nth call (1-based) of `function`, or every call when nth is 0. How it fails
    // fits the function: FT_ListDevices returns `code` as its status, FT_W32_CreateFile
    // returns the all-bits-set handle, the others return zero; FT_W32_GetLastError then
    // reports `code` (its own failure returns `code`). A failed Write/ReadFile moves no data.
    void FailCall(std::string_view function, int nth = 0, D2xxDword code = kDefaultError);

    // Reads and/or writes complete pending: the call returns zero, GetLastError gives 997,
    // and GetOverlappedResult with the same record performs the transfer.
    void SetPending(bool reads, bool writes) {
        pendingReads_ = reads;
        pendingWrites_ = writes;
    }

    // Every write reports at most this many bytes as gone out (and only those are recorded
    // in Written()).
    void LimitWrites(std::uint32_t maxBytes) { writeLimit_ = maxBytes; }

    // Appends one chunk the device sends.
    void QueueReply(std::vector<std::uint8_t> chunk);
    void QueueReply(std::string_view text);
    std::size_t QueuedChunks() const { return replies_.size(); }

    // Runs after each completed write with the bytes that went out; may queue replies.
    std::function<void(FakeD2xx&, const std::vector<std::uint8_t>&)> onWrite;

    // --- Inspection -------------------------------------------------------------------------

    const std::vector<FakeCall>& Calls() const { return calls_; }
    std::vector<std::string> CallNames() const;
    int CountCalls(std::string_view function) const;
    // The calls of one function, in order.
    std::vector<FakeCall> CallsOf(std::string_view function) const;

    // Bytes that went out: all writes as one stream, and per write call.
    const std::vector<std::uint8_t>& Written() const { return written_; }
    const std::vector<std::vector<std::uint8_t>>& Writes() const { return writes_; }

    // Handles handed out by CreateFile, in order, and how often each was closed.
    const std::vector<D2xxHandle>& OpenedHandles() const { return opened_; }
    int CloseCount(D2xxHandle handle) const;
    int TotalCloses() const;
    // The location id each handle was opened by.
    D2xxDword LocationOf(D2xxHandle handle) const;

    static constexpr D2xxDword kDefaultError = 4;  // any code other than 997
    static constexpr D2xxStatus kDeviceNotFound = 2;

    // --- The driver functions (called through Table()) -------------------------------------
    D2xxHandle CreateFile(const char* name, D2xxDword access, D2xxDword share, void* security,
                          D2xxDword creation, D2xxDword flags, void* templateFile);
    D2xxBool CloseHandle(D2xxHandle handle);
    D2xxBool SetCommState(D2xxHandle handle, D2xxDcb* dcb);
    D2xxBool WriteFile(D2xxHandle handle, void* buffer, D2xxDword count, D2xxDword* written,
                       D2xxOverlapped* overlapped);
    D2xxBool ReadFile(D2xxHandle handle, void* buffer, D2xxDword count, D2xxDword* read,
                      D2xxOverlapped* overlapped);
    D2xxBool WaitCommEvent(D2xxHandle handle, D2xxDword* event, D2xxOverlapped* overlapped);
    D2xxBool SetupComm(D2xxHandle handle, D2xxDword readQueue, D2xxDword writeQueue);
    D2xxStatus ListDevices(void* arg1, void* arg2, D2xxDword flags);
    D2xxBool GetCommState(D2xxHandle handle, D2xxDcb* dcb);
    D2xxBool SetCommMask(D2xxHandle handle, D2xxDword mask);
    D2xxDword GetLastError(D2xxHandle handle);
    D2xxBool GetOverlappedResult(D2xxHandle handle, D2xxOverlapped* overlapped,
                                 D2xxDword* transferred, D2xxBool wait);
    D2xxBool SetCommTimeouts(D2xxHandle handle, D2xxTimeouts* timeouts);
    D2xxBool PurgeComm(D2xxHandle handle, D2xxDword mask);

  private:
    struct FailRule {
        std::string function;
        int nth;
        D2xxDword code;
    };
    struct PendingTransfer {
        D2xxOverlapped* overlapped;
        bool isRead;
        void* buffer;
        D2xxDword count;
    };

    FakeD2xx();
    FakeCall& Record(std::string_view function, D2xxHandle handle,
                     std::vector<std::uint64_t> args = {});
    // True when the call just recorded must fail; sets the last error.
    bool ShouldFail(std::string_view function);
    D2xxDword DoRead(void* buffer, D2xxDword count);
    D2xxDword DoWrite(const void* buffer, D2xxDword count);

    std::vector<D2xxDword> devices_{0x00000021u};
    D2xxDcb dcb_{};
    std::vector<FailRule> failRules_;
    bool pendingReads_ = false;
    bool pendingWrites_ = false;
    std::optional<std::uint32_t> writeLimit_;
    std::deque<std::vector<std::uint8_t>> replies_;
    std::optional<PendingTransfer> pending_;
    D2xxDword lastError_ = 0;

    std::vector<FakeCall> calls_;
    std::vector<std::uint8_t> written_;
    std::vector<std::vector<std::uint8_t>> writes_;
    std::vector<D2xxHandle> opened_;
    std::map<D2xxHandle, D2xxDword> locations_;
    std::map<D2xxHandle, int> closes_;
};

}  // namespace tolvex::testing
