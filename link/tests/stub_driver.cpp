// A driver library that exports the fourteen names and does nothing, so that binding can be
// tested through the real loader. Each function answers with a value of its own.
#include "link/d2xx.h"

#if defined(_WIN32)
#define TOLVEX_STUB_EXPORT __declspec(dllexport)
#else
#define TOLVEX_STUB_EXPORT __attribute__((visibility("default")))
#endif

using namespace tolvex;

extern "C" {
TOLVEX_STUB_EXPORT D2xxHandle TOLVEX_D2XX_CALL FT_W32_CreateFile(const char*, D2xxDword, D2xxDword,
                                                                 void*, D2xxDword, D2xxDword,
                                                                 void*) {
    return D2xxInvalidHandle();
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_CloseHandle(D2xxHandle) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommState(D2xxHandle, D2xxDcb*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_WriteFile(D2xxHandle, void*, D2xxDword,
                                                              D2xxDword*, D2xxOverlapped*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_ReadFile(D2xxHandle, void*, D2xxDword,
                                                             D2xxDword*, D2xxOverlapped*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_WaitCommEvent(D2xxHandle, D2xxDword*,
                                                                  D2xxOverlapped*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetupComm(D2xxHandle, D2xxDword, D2xxDword) {
    return 0;
}
// "No device", with a status a test can recognise as coming from this library.
TOLVEX_STUB_EXPORT D2xxStatus TOLVEX_D2XX_CALL FT_ListDevices(void*, void*, D2xxDword) {
    return 0x5708;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_GetCommState(D2xxHandle, D2xxDcb*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommMask(D2xxHandle, D2xxDword) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxDword TOLVEX_D2XX_CALL FT_W32_GetLastError(D2xxHandle) {
    return 0x5711;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_GetOverlappedResult(D2xxHandle, D2xxOverlapped*,
                                                                        D2xxDword*, D2xxBool) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommTimeouts(D2xxHandle, D2xxTimeouts*) {
    return 0;
}
TOLVEX_STUB_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_PurgeComm(D2xxHandle, D2xxDword) {
    return 0;
}
}
