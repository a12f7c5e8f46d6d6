// The exit codes of tolvex-flash. Scripts on production lines branch on them, so each one is
// fixed for good; they come from the update's result, never from its message text.
#pragma once

#include "update/front_end.h"

namespace tolvex::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDriverNotFound = 10;
inline constexpr int kExitDriverInterface = 11;
inline constexpr int kExitFileNotReadable = 12;
inline constexpr int kExitConnectFailed = 13;
inline constexpr int kExitUnknownHardware = 14;
inline constexpr int kExitEraseFailed = 15;
inline constexpr int kExitTransmitFailed = 16;
inline constexpr int kExitVerifyFailed = 17;
inline constexpr int kExitCloseFailed = 18;
// The shell's code for a run ended by SIGINT (128 + 2); also used on Windows for Ctrl-C.
inline constexpr int kExitInterrupted = 130;

int ExitCodeFor(UpdateResult result);

}  // namespace tolvex::cli
