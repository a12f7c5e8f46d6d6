// tolvex-flash: the update from the command line, for production lines and service scripts.
#include <iostream>

#include "cli/command_line.h"
#include "cli/console.h"

int main(int argc, char** argv) {
    using namespace tolvex::cli;
    CliSystem system;
    system.out = &std::cout;
    system.err = &std::cerr;
    system.stdoutIsTerminal = StdoutIsTerminal();
    system.terminalWidth = system.stdoutIsTerminal ? TerminalWidth() : 0;
    system.installInterruptHandler = InstallInterruptHandler;
    system.interruptRequested = InterruptRequested;
    system.hints = GetPlatformHints();
    return RunCli(CommandLineArguments(argc, argv), system);
}
