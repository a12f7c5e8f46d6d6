#include "cli/command_line.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/flash_front_end.h"
#include "link/d2xx_library.h"
#include "update/progress.h"
#include "updatefile/update_file.h"

#ifndef TOLVEX_VERSION
#define TOLVEX_VERSION "unknown"
#endif

namespace tolvex::cli {

namespace {

constexpr std::string_view kProgram = "tolvex-flash";

std::string_view RejectionText(FileRejection why) {
    switch (why) {
        case FileRejection::None:
            return "rejected";
        case FileRejection::CannotOpen:
            return "the file does not open for reading";
        case FileRejection::CannotSeek:
            return "the file is shorter than its 4-byte trailer";
        case FileRejection::ShortTrailer:
            return "the trailer could not be read";
        case FileRejection::BadTrailer:
            return "the file does not end with the trailer 5A A5 5A A5";
        case FileRejection::ShortHeader:
            return "the file is shorter than its 16-byte header";
        case FileRejection::BadMagic:
            return "the file does not begin with \"TolvexFile\"";
        case FileRejection::TooLarge:
            return "the file is larger than 4 GiB";
    }
    return "rejected";
}

std::string Printable(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte >= 0x20 && byte < 0x7F) ? c : '?';
    }
    return shown;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--help" || arg == "-h") {
            parsed.ok = true;
            parsed.options.mode = CliMode::Help;
            return parsed;
        }
    }
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--version") {
            parsed.ok = true;
            parsed.options.mode = CliMode::Version;
            return parsed;
        }
    }

    bool optionsEnded = false;
    bool haveFile = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-v" || arg == "--verbose")) {
            parsed.options.verbose = true;
        } else if (!optionsEnded && arg == "--info") {
            parsed.options.mode = CliMode::Info;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            parsed.error = "unknown option '" + arg + "'";
            return parsed;
        } else if (haveFile) {
            parsed.error =
                "more than one FILE given ('" + parsed.options.file + "', '" + arg + "')";
            return parsed;
        } else {
            parsed.options.file = arg;
            haveFile = true;
        }
    }
    if (!haveFile) {
        parsed.error = "no FILE given";
        return parsed;
    }
    parsed.ok = true;
    return parsed;
}

std::string UsageText() {
    return "Usage: tolvex-flash [-v] FILE\n"
           "       tolvex-flash [-v] --info FILE\n"
           "       tolvex-flash --help | --version\n";
}

std::string HelpText() {
    return UsageText() +
           "\n"
           "Writes the update file FILE (.tvu) into the Tolvex hardware on the first FTDI "
           "device.\n"
           "\n"
           "  --info FILE    check FILE as the update does (trailer, header) without touching\n"
           "                 the hardware, and print its model code, payload size, 16-bit\n"
           "                 payload sum and the initial time estimate\n"
           "  -v, --verbose  diagnostics on standard error: the driver loaded, the hardware\n"
           "                 identifier, bytes, blocks, retries, time and throughput\n"
           "  --help         this text\n"
           "  --version      the program's version\n"
           "\n"
           "On a terminal one progress line is redrawn in place; otherwise every status and\n"
           "estimate text is printed as its own line.\n"
           "\n"
           "Ctrl-C stops the update with the device closed and the file released. Before the\n"
           "erase it stops with the hardware unchanged; during the transfer, after the block\n"
           "being sent, leaving the hardware erased and partly written. A Ctrl-C during the\n"
           "erase takes effect after the first block, and one during verifying lets the update\n"
           "finish. A second Ctrl-C ends the program at once.\n"
           "\n"
           "The FTDI D2XX driver is loaded by its platform name (" +
           std::string(D2xxLibraryName()) +
           ") through the\n"
           "operating system's loader: on Linux its search path, LD_LIBRARY_PATH included; on\n"
           "Windows the program's folder and the system folders.\n"
           "\n"
           "Exit codes:\n"
           "   0  Hardware updated correctly!\n"
           "   2  usage error\n"
           "  10  FTD2XX.DLL not found\n"
           "  11  Error interfacing FTD2XX.DLL\n"
           "  12  File not readable!\n"
           "  13  Unable to connect to the hardware!\n"
           "  14  Unknown hardware!\n"
           "  15  Error on erasing the hardware!\n"
           "  16  Error on transmitting data to hardware!\n"
           "  17  Error on verifying the hardware!\n"
           "  18  Error on closing USB!\n"
           " 130  interrupted by Ctrl-C\n";
}

std::string VersionText() {
    return std::string(kProgram) + " " + TOLVEX_VERSION + "\n";
}

int RunInfo(const std::string& path, bool verbose, std::ostream& out, std::ostream& err) {
    const std::string notReadable(UpdateMessage(UpdateResult::FileNotReadable));
    UpdateFile file;
    FileRejection why = FileRejection::None;
    if (!file.Open(path, &why)) {
        if (verbose) {
            err << kProgram << ": " << RejectionText(why) << '\n';
        }
        err << notReadable << '\n';
        return kExitFileNotReadable;
    }

    std::uint64_t payloadBytes = 0;
    std::uint32_t sum = 0;
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        std::uint32_t count = 0;
        if (!file.NextBlock(buffer.data(), static_cast<std::uint32_t>(buffer.size()), count)) {
            if (verbose) {
                err << kProgram << ": reading the payload failed after " << payloadBytes
                    << " bytes\n";
            }
            err << notReadable << '\n';
            return kExitFileNotReadable;
        }
        if (count == 0) {
            break;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            sum += buffer[i];
        }
        payloadBytes += count;
    }
    file.Close();

    const bool standard = MatchHardware(file.Header(), "m:9.") == HardwareMatch::Matches;
    const bool pro = MatchHardware(file.Header(), "M:9.") == HardwareMatch::Matches;
    char sumText[8];
    std::snprintf(sumText, sizeof sumText, "0x%04X", static_cast<unsigned>(sum & 0xFFFFu));

    out << "File: " << path << '\n';
    out << "Model code: " << Printable(file.ModelCode());
    if (standard) {
        out << " (standard hardware, identifier \"m:9.\")\n";
    } else if (pro) {
        out << " (pro hardware, identifier \"M:9.\")\n";
    } else {
        out << " (no hardware takes it)\n";
    }
    out << "Payload size: " << payloadBytes << " bytes\n";
    out << "Payload sum: " << sumText << '\n';
    out << "Estimate: " << InitialEstimateText(file.Size()) << '\n';
    out.flush();

    // The magic is right but the model code belongs to no hardware: every update with this
    // file ends in "File not readable!" once the hardware has answered.
    if (!standard && !pro) {
        if (verbose) {
            err << kProgram << ": model code \"" << Printable(file.ModelCode())
                << "\" is neither 999999 (standard) nor 999PRO (pro)\n";
        }
        err << notReadable << '\n';
        return kExitFileNotReadable;
    }
    return kExitOk;
}

int RunCli(const std::vector<std::string>& args, const CliSystem& system) {
    std::ostream& out = *system.out;
    std::ostream& err = *system.err;
    const ParsedArguments parsed = ParseArguments(args);
    if (!parsed.ok) {
        err << kProgram << ": " << parsed.error << '\n'
            << UsageText() << "Try 'tolvex-flash --help' for more information.\n";
        return kExitUsage;
    }
    const CliOptions& options = parsed.options;
    switch (options.mode) {
        case CliMode::Help:
            out << HelpText();
            return kExitOk;
        case CliMode::Version:
            out << VersionText();
            return kExitOk;
        case CliMode::Info:
            return RunInfo(options.file, options.verbose, out, err);
        case CliMode::Update:
            break;
    }

    FrontEndConfig config;
    config.terminal = system.stdoutIsTerminal;
    config.width = system.terminalWidth;
    config.verbose = options.verbose;
    config.stopRequested = system.interruptRequested;
    config.clock = system.clock;
    config.hints = system.hints;
    FlashFrontEnd frontEnd(out, err, config);
    if (!system.update.bindDriver) {
        frontEnd.Diagnostic("loading " + std::string(D2xxLibraryName()) +
                            " through the system loader");
    }
    // The update looks at the Ctrl-C flag only between blocks: pressed while connecting or
    // erasing, it takes effect after the first block; pressed while verifying, the update
    // completes. A second Ctrl-C ends the process at once, and the system closes the device.
    if (system.installInterruptHandler) {
        system.installInterruptHandler();
    }
    const UpdateResult result = UpdateHardware(options.file, frontEnd, system.update);
    return frontEnd.Finish(result);
}

}  // namespace tolvex::cli
