// A minimal DLL for the library-loading tests: one WINAPI export under its undecorated name
// (see probe_dll.def), the way the driver exports its functions.
#include <windows.h>

extern "C" DWORD WINAPI TolvexProbeAnswer(DWORD add) {
    return 42 + add;
}
