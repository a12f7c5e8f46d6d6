// tolvex-flash's command line: argument parsing, --info, and the run of one update. Kept out
// of main() so that it can be exercised in-process.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "update/update_hardware.h"

namespace tolvex::cli {

enum class CliMode { Update, Info, Help, Version };

struct CliOptions {
    CliMode mode = CliMode::Update;
    std::string file;
    bool verbose = false;
};

struct ParsedArguments {
    bool ok = false;
    CliOptions options;
    std::string error;  // what was wrong, when !ok
};

// `args` are the arguments after the program's name. --help and --version win over anything
// else; "--" ends the options.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

std::string UsageText();
std::string HelpText();
std::string VersionText();

// Checks `path` as the update does (trailer, header), without touching hardware, and prints
// its model code, payload size, 16-bit payload sum and initial estimate. Returns the exit
// code: 0, or 12 with "File not readable!" on `err`.
int RunInfo(const std::string& path, bool verbose, std::ostream& out, std::ostream& err);

// What a run takes from the system; main() fills it from the console, tests fake it.
struct CliSystem {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    bool stdoutIsTerminal = false;
    std::size_t terminalWidth = 0;
    std::function<void()> installInterruptHandler;
    std::function<bool()> interruptRequested;
    PlatformHints hints;
    MillisecondClock clock;  // for the run's own timing; empty: MonotonicMilliseconds
    UpdateOptions update;    // empty: the platform's driver through the system loader
};

// The whole program after the arguments are split: returns its exit code.
int RunCli(const std::vector<std::string>& args, const CliSystem& system);

}  // namespace tolvex::cli
