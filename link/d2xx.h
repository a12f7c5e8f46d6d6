// The driver's Win32-style interface as this program uses it, declared here from what the
// calls take and return. DWORD, ULONG and BOOL are 32 bits wide on every platform the driver
// ships for, so they are spelled as fixed-width types; handles and overlapped records are
// pointer-sized. On Windows the driver exports its functions with the WINAPI (stdcall)
// convention; elsewhere the platform's C convention applies.
#pragma once

#include <array>
#include <cstdint>

#if defined(_WIN32)
#define TOLVEX_D2XX_CALL __stdcall
#else
#define TOLVEX_D2XX_CALL
#endif

namespace tolvex {

using D2xxDword = std::uint32_t;   // DWORD / ULONG
using D2xxBool = std::int32_t;     // BOOL: nonzero is success
using D2xxStatus = std::uint32_t;  // FT_STATUS: 0 is success
using D2xxHandle = void*;          // FT_HANDLE

// A handle with all bits set means "not open" (the driver's INVALID_HANDLE_VALUE).
inline D2xxHandle D2xxInvalidHandle() {
    return reinterpret_cast<D2xxHandle>(~std::uintptr_t{0});
}

// FT_ListDevices flags: list by index, asking for the location id.
inline constexpr D2xxDword kD2xxListByIndex = 0x40000000u;
inline constexpr D2xxDword kD2xxOpenByLocation = 0x00000004u;

// FT_W32_CreateFile arguments.
inline constexpr D2xxDword kD2xxGenericRead = 0x80000000u;
inline constexpr D2xxDword kD2xxGenericWrite = 0x40000000u;
inline constexpr D2xxDword kD2xxOpenExisting = 3u;
inline constexpr D2xxDword kD2xxAttributeNormal = 0x00000080u;
inline constexpr D2xxDword kD2xxFlagOverlapped = 0x40000000u;

// FT_W32_PurgeComm mask bits.
inline constexpr D2xxDword kD2xxPurgeTxClear = 0x0004u;
inline constexpr D2xxDword kD2xxPurgeRxClear = 0x0008u;

// FT_W32_GetLastError: the overlapped transfer is still under way.
inline constexpr D2xxDword kD2xxIoPending = 997u;

// The Win32 OVERLAPPED record (the Offset/OffsetHigh pair shares its storage with a pointer).
struct D2xxOverlapped {
    std::uintptr_t internal;
    std::uintptr_t internalHigh;
    D2xxDword offset;
    D2xxDword offsetHigh;
    void* event;
};

// The Win32 serial device control block, 28 bytes. The flag word is kept whole and read
// through the masks below, so the layout does not depend on a compiler's bit-field order.
struct D2xxDcb {
    std::uint32_t length;
    std::uint32_t baudRate;
    std::uint32_t flags;
    std::uint16_t reserved;
    std::uint16_t xonLimit;
    std::uint16_t xoffLimit;
    std::uint8_t byteSize;
    std::uint8_t parity;
    std::uint8_t stopBits;
    char xonChar;
    char xoffChar;
    char errorChar;
    char eofChar;
    char evtChar;
    std::uint16_t reserved1;
};
static_assert(sizeof(D2xxDcb) == 28, "the device control block is 28 bytes");

inline constexpr std::uint32_t kDcbBinary = 1u << 0;
inline constexpr std::uint32_t kDcbParityCheck = 1u << 1;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 1u << 2;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 1u << 3;
inline constexpr std::uint32_t kDcbDtrControlMask = 3u << 4;
inline constexpr std::uint32_t kDcbDsrSensitivity = 1u << 6;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 1u << 7;
inline constexpr std::uint32_t kDcbOutX = 1u << 8;
inline constexpr std::uint32_t kDcbInX = 1u << 9;
inline constexpr std::uint32_t kDcbErrorChar = 1u << 10;
inline constexpr std::uint32_t kDcbNullStrip = 1u << 11;
inline constexpr std::uint32_t kDcbRtsControlMask = 3u << 12;
inline constexpr std::uint32_t kDcbAbortOnError = 1u << 14;

inline constexpr std::uint8_t kDcbNoParity = 0;
inline constexpr std::uint8_t kDcbOneStopBit = 0;

// Five millisecond values, in the order the driver takes them.
struct D2xxTimeouts {
    D2xxDword readInterval;
    D2xxDword readTotalMultiplier;
    D2xxDword readTotalConstant;
    D2xxDword writeTotalMultiplier;
    D2xxDword writeTotalConstant;
};

extern "C" {
using FtW32CreateFileFn = D2xxHandle(TOLVEX_D2XX_CALL*)(const char* name, D2xxDword access,
                                                        D2xxDword shareMode, void* security,
                                                        D2xxDword creation, D2xxDword flags,
                                                        void* templateFile);
using FtW32CloseHandleFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle);
using FtW32SetCommStateFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDcb* dcb);
using FtW32WriteFileFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, void* buffer,
                                                     D2xxDword count, D2xxDword* written,
                                                     D2xxOverlapped* overlapped);
using FtW32ReadFileFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, void* buffer,
                                                    D2xxDword count, D2xxDword* read,
                                                    D2xxOverlapped* overlapped);
using FtW32WaitCommEventFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDword* event,
                                                         D2xxOverlapped* overlapped);
using FtW32SetupCommFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDword readQueue,
                                                     D2xxDword writeQueue);
using FtListDevicesFn = D2xxStatus(TOLVEX_D2XX_CALL*)(void* arg1, void* arg2, D2xxDword flags);
using FtW32GetCommStateFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDcb* dcb);
using FtW32SetCommMaskFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDword mask);
using FtW32GetLastErrorFn = D2xxDword(TOLVEX_D2XX_CALL*)(D2xxHandle handle);
using FtW32GetOverlappedResultFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle,
                                                               D2xxOverlapped* overlapped,
                                                               D2xxDword* transferred,
                                                               D2xxBool wait);
using FtW32SetCommTimeoutsFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle,
                                                           D2xxTimeouts* timeouts);
using FtW32PurgeCommFn = D2xxBool(TOLVEX_D2XX_CALL*)(D2xxHandle handle, D2xxDword mask);
}

// The fourteen entry points, in the order they are resolved. FT_W32_WaitCommEvent must
// resolve but is never called.
struct D2xxEntryPoints {
    FtW32CreateFileFn FT_W32_CreateFile = nullptr;
    FtW32CloseHandleFn FT_W32_CloseHandle = nullptr;
    FtW32SetCommStateFn FT_W32_SetCommState = nullptr;
    FtW32WriteFileFn FT_W32_WriteFile = nullptr;
    FtW32ReadFileFn FT_W32_ReadFile = nullptr;
    FtW32WaitCommEventFn FT_W32_WaitCommEvent = nullptr;
    FtW32SetupCommFn FT_W32_SetupComm = nullptr;
    FtListDevicesFn FT_ListDevices = nullptr;
    FtW32GetCommStateFn FT_W32_GetCommState = nullptr;
    FtW32SetCommMaskFn FT_W32_SetCommMask = nullptr;
    FtW32GetLastErrorFn FT_W32_GetLastError = nullptr;
    FtW32GetOverlappedResultFn FT_W32_GetOverlappedResult = nullptr;
    FtW32SetCommTimeoutsFn FT_W32_SetCommTimeouts = nullptr;
    FtW32PurgeCommFn FT_W32_PurgeComm = nullptr;
};

inline constexpr std::array<const char*, 14> kD2xxEntryPointNames = {
    "FT_W32_CreateFile",      "FT_W32_CloseHandle",  "FT_W32_SetCommState",
    "FT_W32_WriteFile",       "FT_W32_ReadFile",     "FT_W32_WaitCommEvent",
    "FT_W32_SetupComm",       "FT_ListDevices",      "FT_W32_GetCommState",
    "FT_W32_SetCommMask",     "FT_W32_GetLastError", "FT_W32_GetOverlappedResult",
    "FT_W32_SetCommTimeouts", "FT_W32_PurgeComm",
};

}  // namespace tolvex
