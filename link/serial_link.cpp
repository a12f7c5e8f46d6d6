#include "link/serial_link.h"

#include <utility>

namespace tolvex {

Link::Link(Link&& other) noexcept
    : ft_(std::exchange(other.ft_, nullptr)),
      handle_(std::exchange(other.handle_, D2xxInvalidHandle())) {}

Link& Link::operator=(Link&& other) noexcept {
    if (this != &other) {
        Close();
        ft_ = std::exchange(other.ft_, nullptr);
        handle_ = std::exchange(other.handle_, D2xxInvalidHandle());
    }
    return *this;
}

bool Link::Close() {
    if (!IsOpen()) {
        return true;
    }
    // Forget the handle before the call: whatever the driver answers, it is not closed twice.
    const D2xxHandle handle = std::exchange(handle_, D2xxInvalidHandle());
    return ft_->FT_W32_CloseHandle(handle) != 0;
}

namespace {

// The line the bootloader speaks: 500000 baud, 8N1, no parity check, no XON/XOFF, and no
// null stripping (0x00 is an ordinary payload byte). Everything else stays as the driver had it.
void ConfigureLine(D2xxDcb& dcb) {
    dcb.baudRate = kLinkBaudRate;
    dcb.flags &= ~(kDcbParityCheck | kDcbOutX | kDcbInX | kDcbNullStrip);
    dcb.byteSize = 8;
    dcb.parity = kDcbNoParity;
    dcb.stopBits = kDcbOneStopBit;
}

bool Fail(ConnectStep step, ConnectStep* failedAt) {
    if (failedAt != nullptr) {
        *failedAt = step;
    }
    return false;
}

// The overlapped pattern shared by reads and writes: nonzero means done; zero with "I/O
// pending" means wait for the same record; any other error is a failure. `transfer` is
// FT_W32_ReadFile or FT_W32_WriteFile.
template <typename TransferFn>
bool Transfer(Link& link, TransferFn transfer, void* buffer, std::uint32_t n,
              std::uint32_t& count) {
    count = 0;
    if (!link.IsOpen()) {
        return false;
    }
    const D2xxEntryPoints& ft = link.Driver();
    D2xxOverlapped overlapped{};  // fresh and zeroed for each transfer, no event
    D2xxDword done = 0;
    if (transfer(link.Handle(), buffer, n, &done, &overlapped) != 0) {
        count = done;
        return true;
    }
    if (ft.FT_W32_GetLastError(link.Handle()) != kD2xxIoPending) {
        return false;
    }
    done = 0;
    if (ft.FT_W32_GetOverlappedResult(link.Handle(), &overlapped, &done, 1) == 0) {
        return false;
    }
    count = done;
    return true;
}

}  // namespace

bool ConnectHardware(const D2xxEntryPoints& ft, Link& link, ConnectStep* failedAt) {
    link.Close();
    if (failedAt != nullptr) {
        *failedAt = ConnectStep::None;
    }

    // Only the first listed device is ever used, even with several attached.
    D2xxDword locationId = 0;
    if (ft.FT_ListDevices(reinterpret_cast<void*>(std::uintptr_t{0}), &locationId,
                          kD2xxListByIndex | kD2xxOpenByLocation) != 0) {
        return Fail(ConnectStep::ListDevices, failedAt);
    }

    // Opened by location, the driver takes the location id itself in place of a name.
    const auto* name = reinterpret_cast<const char*>(std::uintptr_t{locationId});
    const D2xxHandle handle = ft.FT_W32_CreateFile(
        name, kD2xxGenericRead | kD2xxGenericWrite, 0, nullptr, kD2xxOpenExisting,
        kD2xxFlagOverlapped | kD2xxAttributeNormal | kD2xxOpenByLocation, nullptr);
    if (handle == D2xxInvalidHandle()) {
        return Fail(ConnectStep::CreateFile, failedAt);
    }
    // From here on the handle is owned: any early return closes it exactly once.
    Link opened(ft, handle);

    if (ft.FT_W32_SetupComm(handle, kLinkReceiveQueue, kLinkTransmitQueue) == 0) {
        return Fail(ConnectStep::SetupComm, failedAt);
    }
    D2xxDcb dcb{};
    if (ft.FT_W32_GetCommState(handle, &dcb) == 0) {
        return Fail(ConnectStep::GetCommState, failedAt);
    }
    ConfigureLine(dcb);
    if (ft.FT_W32_SetCommState(handle, &dcb) == 0) {
        return Fail(ConnectStep::SetCommState, failedAt);
    }
    if (ft.FT_W32_SetCommMask(handle, 0) == 0) {
        return Fail(ConnectStep::SetCommMask, failedAt);
    }
    link = std::move(opened);
    return true;
}

bool SetLinkTimeouts(Link& link, std::uint32_t readTotalMs, std::uint32_t writeTotalMs) {
    if (!link.IsOpen()) {
        return false;
    }
    D2xxTimeouts timeouts{0, 0, readTotalMs, 0, writeTotalMs};
    return link.Driver().FT_W32_SetCommTimeouts(link.Handle(), &timeouts) != 0;
}

bool LinkWrite(Link& link, const std::uint8_t* bytes, std::uint32_t n) {
    if (!link.IsOpen()) {
        return false;
    }
    std::uint32_t count = 0;
    // The driver's prototype takes a non-const buffer but only reads from it.
    void* buffer = const_cast<std::uint8_t*>(bytes);
    return Transfer(link, link.Driver().FT_W32_WriteFile, buffer, n, count) && count == n;
}

LinkReadResult LinkRead(Link& link, std::uint8_t* buffer, std::uint32_t n) {
    LinkReadResult result;
    if (!link.IsOpen()) {
        return result;
    }
    result.ok = Transfer(link, link.Driver().FT_W32_ReadFile, buffer, n, result.count);
    // A count beyond what was asked for cannot be true; callers index the buffer by it.
    if (result.count > n) {
        result = LinkReadResult{};
    }
    return result;
}

void PurgeLink(Link& link) {
    if (link.IsOpen()) {
        link.Driver().FT_W32_PurgeComm(link.Handle(), kD2xxPurgeTxClear | kD2xxPurgeRxClear);
    }
}

}  // namespace tolvex
