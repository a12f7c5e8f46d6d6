#include <windows.h>

#include "sim/driver/pin_library.h"

namespace tolvex::sim {

void PinThisLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisLibrary), &self);
}

}  // namespace tolvex::sim
