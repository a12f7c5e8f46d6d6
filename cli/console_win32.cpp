// windows.h first: shellapi.h depends on it.
#include <windows.h>

#include <shellapi.h>

#include <atomic>

#include "cli/console.h"

namespace tolvex::cli {

namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread the system creates for the event. Returning TRUE swallows the first
// Ctrl-C; from then on FALSE hands it to the default handler, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (interrupted.exchange(true)) {
        return FALSE;
    }
    // Said at once, because the update only looks at the flag between blocks.
    static constexpr char kNotice[] =
        "\r\ntolvex-flash: stopping after the current block; press Ctrl-C again to quit at "
        "once\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kNotice, sizeof kNotice - 1, &written, nullptr);
    return TRUE;
}

std::string ToUtf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes - 1));
    return utf8;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) {
            args.emplace_back(argv[i]);
        }
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.push_back(ToUtf8(wide[i]));
    }
    LocalFree(wide);
    return args;
}

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::size_t TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return 0;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

void InstallInterruptHandler() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
    return interrupted.load();
}

PlatformHints GetPlatformHints() {
    PlatformHints hints;
    hints.driverNotFound =
        "install FTDI's D2XX driver (it puts FTD2XX.DLL in the system folder), or place "
        "FTD2XX.DLL beside tolvex-flash.exe; the current folder is not searched";
    hints.noDevice =
        "no FTDI device was found: check the cable and that Device Manager lists the device "
        "under USB Serial Converter";
    hints.deviceNotOpened =
        "the FTDI device is there but did not open: another program (a terminal, another "
        "updater) may hold it open; close it and try again";
    return hints;
}

}  // namespace tolvex::cli
