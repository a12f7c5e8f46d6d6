// The program's event loop and its end, shared by main() and the close test.
#pragma once

#include <QApplication>

#include "app/sdi_app_form.h"

namespace tolvex::app {

// How long the UI thread waits, after the window has closed, for an update to wind down.
inline constexpr std::chrono::milliseconds kWorkerGrace{2000};

// UI thread. Shows `form`, runs the event loop until the window closes and returns the exit
// code (0). An update still running then is asked to stop; if it has not ended within
// kWorkerGrace the process ends here with exit code 0 and this function does not return.
int RunApplication(TSDIAppForm& form);

}  // namespace tolvex::app
