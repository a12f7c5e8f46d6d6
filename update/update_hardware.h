// The whole update, from a file path to verified hardware.
#pragma once

#include <functional>
#include <string>

#include "link/d2xx_library.h"
#include "update/front_end.h"
#include "update/progress.h"

namespace tolvex {

struct UpdateOptions {
    // Binds the driver (load + resolve). Empty: the platform's driver library through the
    // system loader (BindD2xx). Tests bind an in-process driver here.
    std::function<D2xxBindResult(D2xxBinding&)> bindDriver;
    // Empty: MonotonicMilliseconds.
    MillisecondClock clock;
};

// Runs the update sequence on the calling thread (the update worker) and blocks it for the
// whole update, including while an error box is open. Every failure shows exactly one error
// box through `frontEnd`, after hiding the labels; every exit releases the link, the file
// and the library. Does not show the success box: that is the caller's.
UpdateResult UpdateHardware(const std::string& path, UpdateFrontEnd& frontEnd,
                            const UpdateOptions& options = {});

}  // namespace tolvex
