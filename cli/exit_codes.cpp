#include "cli/exit_codes.h"

namespace tolvex::cli {

int ExitCodeFor(UpdateResult result) {
    switch (result) {
        case UpdateResult::Ok:
            return kExitOk;
        case UpdateResult::DriverNotFound:
            return kExitDriverNotFound;
        case UpdateResult::DriverInterface:
            return kExitDriverInterface;
        case UpdateResult::FileNotReadable:
            return kExitFileNotReadable;
        case UpdateResult::ConnectFailed:
            return kExitConnectFailed;
        case UpdateResult::UnknownHardware:
            return kExitUnknownHardware;
        case UpdateResult::EraseFailed:
            return kExitEraseFailed;
        case UpdateResult::TransmitFailed:
            return kExitTransmitFailed;
        case UpdateResult::VerifyFailed:
            return kExitVerifyFailed;
        case UpdateResult::CloseFailed:
            return kExitCloseFailed;
        case UpdateResult::Stopped:
            return kExitInterrupted;
    }
    // A value outside the enumeration must never read as success.
    return 1;
}

}  // namespace tolvex::cli
