#include "app/run_application.h"

#include <cstdlib>

namespace tolvex::app {

int RunApplication(TSDIAppForm& form) {
    form.show();
    const int code = QApplication::exec();
    // Closing the window ends the program even during an update. The worker has been let go
    // (the transfer stops after its current block and no box can open) and normally releases
    // the link, the file and the library within a block's time. It may instead sit in a
    // driver call with a long time-out: then we end the process without running destructors
    // under its feet, and the system closes the device, the file and the library for us.
    form.ReleaseWorker();
    if (form.UpdateRunning() && !form.WaitForUpdate(kWorkerGrace)) {
        std::_Exit(code);
    }
    return code;
}

}  // namespace tolvex::app
