// The first FTDI device as a timed byte link to the bootloader: 500000 baud, 8 data bits, no
// parity, one stop bit, no software flow control. Every call blocks the calling thread (the
// update worker) for at most the timeouts last set with SetLinkTimeouts; the driver is never
// called from two threads at once.
#pragma once

#include <cstdint>

#include "link/d2xx.h"

namespace tolvex {

inline constexpr std::uint32_t kLinkBaudRate = 500000;
inline constexpr D2xxDword kLinkReceiveQueue = 128;
inline constexpr D2xxDword kLinkTransmitQueue = 256;

// The open device. Move-only; the destructor closes a link that is still open (ignoring
// the result), so every exit from an update releases it.
class Link {
  public:
    Link() = default;
    Link(const D2xxEntryPoints& ft, D2xxHandle handle) : ft_(&ft), handle_(handle) {}
    ~Link() { Close(); }
    Link(Link&& other) noexcept;
    Link& operator=(Link&& other) noexcept;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool IsOpen() const { return ft_ != nullptr && handle_ != D2xxInvalidHandle(); }

    // Closes the device once. Returns the driver's result; the link counts as closed either
    // way, and a second call does nothing and returns true.
    bool Close();

    D2xxHandle Handle() const { return handle_; }
    const D2xxEntryPoints& Driver() const { return *ft_; }

  private:
    const D2xxEntryPoints* ft_ = nullptr;
    D2xxHandle handle_ = D2xxInvalidHandle();
};

// Where ConnectHardware stopped, for diagnostics only.
enum class ConnectStep {
    None,
    ListDevices,
    CreateFile,
    SetupComm,
    GetCommState,
    SetCommState,
    SetCommMask,
};

// Lists device 0 by location id, opens it exclusively for overlapped I/O and sets up the
// line. On success `link` holds the open device. On failure nothing is left open (a handle
// that was created is closed exactly once) and `failedAt`, if given, says which step failed.
bool ConnectHardware(const D2xxEntryPoints& ft, Link& link, ConnectStep* failedAt = nullptr);

// Sets the five timeouts to 0, 0, readTotalMs, 0, writeTotalMs.
bool SetLinkTimeouts(Link& link, std::uint32_t readTotalMs, std::uint32_t writeTotalMs);

// Writes n bytes as one transfer; true only when all n went out.
bool LinkWrite(Link& link, const std::uint8_t* bytes, std::uint32_t n);

// Reads up to n bytes, returning when n arrived or the read total timeout ran out.
struct LinkReadResult {
    bool ok = false;          // false: the driver reported a failure
    std::uint32_t count = 0;  // bytes actually read; below n on a timeout
};
LinkReadResult LinkRead(Link& link, std::uint8_t* buffer, std::uint32_t n);

// Clears both queues; the driver's result is not interesting to any caller.
void PurgeLink(Link& link);

}  // namespace tolvex
