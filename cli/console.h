// What tolvex-flash needs of the operating system's console, one implementation file per OS
// (console_posix.cpp, console_win32.cpp). Everything here runs on the main thread except the
// interrupt handler, which only sets a flag.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tolvex::cli {

// The program's arguments after its name, as UTF-8 (on Windows taken from the wide command
// line, so that paths outside the ANSI code page survive).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether standard output is an interactive terminal (a console window on Windows).
bool StdoutIsTerminal();

// The terminal's width in columns; 0 when unknown.
std::size_t TerminalWidth();

// Installs the Ctrl-C handler. The first Ctrl-C only sets the flag InterruptRequested reads;
// the handler then gives way to the system's default, so a second Ctrl-C ends the process at
// once. Call once, before the update starts.
void InstallInterruptHandler();
bool InterruptRequested();

// What usually causes a failure on this platform and how to fix it; shown in verbose mode.
struct PlatformHints {
    std::string driverNotFound;   // the driver library did not load
    std::string noDevice;         // no FTDI device was listed
    std::string deviceNotOpened;  // a device was listed but could not be opened
};
PlatformHints GetPlatformHints();

}  // namespace tolvex::cli
