// The simulator behind the FTDI driver's names, for the real program to load in place of
// FTD2XX.DLL / libftd2xx.so. The scenario comes from the TOLVEX_SIM environment variable,
// read once, at the first call. Built twice: complete, and without FT_W32_WaitCommEvent
// (TOLVEX_SIM_WITHOUT_WAIT_COMM_EVENT) to show how the program treats a driver missing a name.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/driver/pin_library.h"
#include "sim/simulator.h"

#if defined(_WIN32)
// The names are exported through the module definition file, undecorated.
#define TOLVEX_SIM_EXPORT
#else
#define TOLVEX_SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using namespace tolvex;

const D2xxEntryPoints& Driver() {
    static const D2xxEntryPoints& table = [] {
        // Keep the emulated device for the life of the process, as real hardware stays
        // plugged in while the program loads and releases its driver for every update.
        tolvex::sim::PinThisLibrary();
        sim::Scenario scenario;
        const char* value = std::getenv("TOLVEX_SIM");
        std::string error;
        if (value != nullptr && !sim::ParseScenario(value, scenario, error)) {
            std::fprintf(stderr,
                         "tolvex simulator: TOLVEX_SIM is not usable (%s); simulating a bus "
                         "with no device\n",
                         error.c_str());
            scenario = sim::Scenario{};
            scenario.devices = 0;
        }
        return std::cref(sim::InstallSimulator(scenario));
    }();
    return table;
}

}  // namespace

extern "C" {

TOLVEX_SIM_EXPORT D2xxHandle TOLVEX_D2XX_CALL FT_W32_CreateFile(const char* name, D2xxDword access,
                                                                D2xxDword shareMode, void* security,
                                                                D2xxDword creation, D2xxDword flags,
                                                                void* templateFile) {
    return Driver().FT_W32_CreateFile(name, access, shareMode, security, creation, flags,
                                      templateFile);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_CloseHandle(D2xxHandle handle) {
    return Driver().FT_W32_CloseHandle(handle);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    return Driver().FT_W32_SetCommState(handle, dcb);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_WriteFile(D2xxHandle handle, void* buffer,
                                                             D2xxDword count, D2xxDword* written,
                                                             D2xxOverlapped* overlapped) {
    return Driver().FT_W32_WriteFile(handle, buffer, count, written, overlapped);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_ReadFile(D2xxHandle handle, void* buffer,
                                                            D2xxDword count, D2xxDword* read,
                                                            D2xxOverlapped* overlapped) {
    return Driver().FT_W32_ReadFile(handle, buffer, count, read, overlapped);
}

#if !defined(TOLVEX_SIM_WITHOUT_WAIT_COMM_EVENT)
TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_WaitCommEvent(D2xxHandle handle,
                                                                 D2xxDword* event,
                                                                 D2xxOverlapped* overlapped) {
    return Driver().FT_W32_WaitCommEvent(handle, event, overlapped);
}
#endif

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetupComm(D2xxHandle handle, D2xxDword readQueue,
                                                             D2xxDword writeQueue) {
    return Driver().FT_W32_SetupComm(handle, readQueue, writeQueue);
}

TOLVEX_SIM_EXPORT D2xxStatus TOLVEX_D2XX_CALL FT_ListDevices(void* arg1, void* arg2,
                                                             D2xxDword flags) {
    return Driver().FT_ListDevices(arg1, arg2, flags);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_GetCommState(D2xxHandle handle, D2xxDcb* dcb) {
    return Driver().FT_W32_GetCommState(handle, dcb);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommMask(D2xxHandle handle, D2xxDword mask) {
    return Driver().FT_W32_SetCommMask(handle, mask);
}

TOLVEX_SIM_EXPORT D2xxDword TOLVEX_D2XX_CALL FT_W32_GetLastError(D2xxHandle handle) {
    return Driver().FT_W32_GetLastError(handle);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_GetOverlappedResult(D2xxHandle handle,
                                                                       D2xxOverlapped* overlapped,
                                                                       D2xxDword* transferred,
                                                                       D2xxBool wait) {
    return Driver().FT_W32_GetOverlappedResult(handle, overlapped, transferred, wait);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_SetCommTimeouts(D2xxHandle handle,
                                                                   D2xxTimeouts* timeouts) {
    return Driver().FT_W32_SetCommTimeouts(handle, timeouts);
}

TOLVEX_SIM_EXPORT D2xxBool TOLVEX_D2XX_CALL FT_W32_PurgeComm(D2xxHandle handle, D2xxDword mask) {
    return Driver().FT_W32_PurgeComm(handle, mask);
}

}  // extern "C"
