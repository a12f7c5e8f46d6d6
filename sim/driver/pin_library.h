// Keeps the simulator's driver library mapped until the process ends, so that the emulated
// bus (and its device's flash, faults and trace) survives the program releasing and loading
// the driver between updates. One implementation file per OS.
#pragma once

namespace tolvex::sim {

void PinThisLibrary();

}  // namespace tolvex::sim
