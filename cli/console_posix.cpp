#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "cli/console.h"

namespace tolvex::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

// Said at once, because the update only looks at the flag between blocks, and an erase can
// keep it from looking for a while. write() is safe in a signal handler; stdio is not.
constexpr char kInterruptNotice[] =
    "\ntolvex-flash: stopping after the current block; press Ctrl-C again to quit at once\n";

extern "C" void OnInterrupt(int /*signal*/) {
    interrupted.store(true);
    [[maybe_unused]] const ssize_t ignored =
        write(STDERR_FILENO, kInterruptNotice, sizeof kInterruptNotice - 1);
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

std::size_t TerminalWidth() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the second Ctrl-C meets the default action and ends the process at once.
    // SA_RESTART: the driver's blocking reads and writes are not cut short by the first one.
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
    sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() {
    return interrupted.load();
}

PlatformHints GetPlatformHints() {
    PlatformHints hints;
#if defined(__APPLE__)
    hints.driverNotFound =
        "install FTDI's D2XX driver (libftd2xx.dylib) where the loader finds it, or set "
        "DYLD_LIBRARY_PATH to its folder";
    hints.noDevice = "check the cable; System Information > USB should list the FTDI chip";
    hints.deviceNotOpened =
        "Apple's own FTDI driver may hold the device: unload it "
        "(sudo kextunload -b com.apple.driver.AppleUSBFTDI) and try again";
#else
    hints.driverNotFound =
        "install FTDI's D2XX driver (libftd2xx.so, e.g. in /usr/local/lib, then run\n"
        "  'sudo ldconfig'), or set LD_LIBRARY_PATH to the folder that holds it";
    hints.noDevice =
        "no FTDI device was listed: check the cable and that 'lsusb' shows the FTDI chip\n"
        "  (vendor id 0403). If it does, your user may lack permission on the USB device:\n"
        "  try once as root, then add the udev rule described for a device that does not open";
    hints.deviceNotOpened =
        "the FTDI device is there but did not open. On Linux this is usually one of:\n"
        "  (1) permissions: your user may not write the USB device node. Add a udev rule,\n"
        "      e.g. /etc/udev/rules.d/99-ftdi.rules with the line\n"
        "      SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", MODE=\"0666\"\n"
        "      then 'sudo udevadm control --reload-rules' and replug the device;\n"
        "  (2) the kernel's ftdi_sio driver holds the device (it appears as /dev/ttyUSB*):\n"
        "      unload it with 'sudo rmmod ftdi_sio', or unbind only this device through\n"
        "      /sys/bus/usb/drivers/ftdi_sio/unbind, and try again";
#endif
    return hints;
}

}  // namespace tolvex::cli
