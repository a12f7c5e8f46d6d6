#include "sim/driver/pin_library.h"

namespace tolvex::sim {

// The library is linked with -z nodelete: dlclose never unmaps it.
void PinThisLibrary() {}

}  // namespace tolvex::sim
