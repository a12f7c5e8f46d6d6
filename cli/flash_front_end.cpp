#include "cli/flash_front_end.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "bootloader/bootloader.h"
#include "cli/exit_codes.h"

namespace tolvex::cli {

namespace {

constexpr std::string_view kProgramPrefix = "tolvex-flash: ";
constexpr std::string_view kSuccessText = "Hardware updated correctly!";
constexpr std::string_view kInterruptedText =
    "Update interrupted: the link is closed and the file released, but the hardware is left "
    "erased and partly written. Run the update again to complete it.";
constexpr std::string_view kEarlyInterruptText =
    "Update interrupted before the erase: the link is closed, the file released, and the "
    "hardware is unchanged.";
constexpr std::string_view kLateInterruptText =
    "The interrupt came after the transfer; the update was completed.";

// "12.3 s" from milliseconds.
std::string SecondsText(std::uint32_t ms) {
    return std::to_string(ms / 1000u) + "." + std::to_string(ms % 1000u / 100u) + " s";
}

// The identifier as the device sent it, with anything unprintable shown as \xNN.
std::string Printable(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

std::string_view ConnectStepName(ConnectStep step) {
    switch (step) {
        case ConnectStep::None:
            return "an unknown step";
        case ConnectStep::ListDevices:
            return "FT_ListDevices (no FTDI device listed)";
        case ConnectStep::CreateFile:
            return "FT_W32_CreateFile (the device did not open)";
        case ConnectStep::SetupComm:
            return "FT_W32_SetupComm";
        case ConnectStep::GetCommState:
            return "FT_W32_GetCommState";
        case ConnectStep::SetCommState:
            return "FT_W32_SetCommState";
        case ConnectStep::SetCommMask:
            return "FT_W32_SetCommMask";
    }
    return "an unknown step";
}

}  // namespace

FlashFrontEnd::FlashFrontEnd(std::ostream& out, std::ostream& err, FrontEndConfig config)
    : out_(out), err_(err), config_(std::move(config)) {
    if (!config_.clock) {
        config_.clock = MonotonicMilliseconds;
    }
    startStamp_ = Now();
}

std::uint32_t FlashFrontEnd::Now() const {
    return config_.clock();
}

void FlashFrontEnd::SetStatusText(std::string_view text) {
    if (text == kStatusErasing) {
        eraseStarted_ = true;
    }
    if (text == kStatusTransmitting && !transferStarted_) {
        transferStarted_ = true;
        transferStamp_ = Now();
    }
    if (text == kStatusVerifying) {
        TransferSummary();
    }
    line_.status = std::string(text);
    // A hidden label's new text changes nothing on screen until it is shown.
    if (config_.terminal) {
        if (line_.statusVisible) {
            Redraw();
        }
    } else {
        LogLine(text);
    }
}

void FlashFrontEnd::SetStatusVisible(bool visible) {
    line_.statusVisible = visible;
    // Hiding never redraws: the last state stays on screen until the outcome is stated.
    if (visible && config_.terminal) {
        Redraw();
    }
}

void FlashFrontEnd::SetEstimateText(std::string_view text) {
    line_.estimate = std::string(text);
    if (config_.terminal) {
        if (line_.estimateVisible) {
            Redraw();
        }
    } else {
        LogLine(text);
    }
}

void FlashFrontEnd::SetEstimateVisible(bool visible) {
    line_.estimateVisible = visible;
    if (visible && config_.terminal) {
        Redraw();
    }
}

void FlashFrontEnd::ShowError(UpdateResult /*result*/, std::string_view message) {
    errorShown_ = true;
    EndLine();
    ErrorLine(message);
}

void FlashFrontEnd::OnDriverBound(const std::string& loadedPath) {
    Diagnostic("driver loaded from " + (loadedPath.empty() ? "(path unknown)" : loadedPath));
}

void FlashFrontEnd::OnDriverFailed(const std::string& loaderText) {
    Diagnostic("driver: " + (loaderText.empty() ? std::string("(no detail)") : loaderText));
}

void FlashFrontEnd::OnConnectFailed(ConnectStep step) {
    Diagnostic("connecting failed at " + std::string(ConnectStepName(step)));
    if (step == ConnectStep::ListDevices && !config_.hints.noDevice.empty()) {
        Diagnostic(config_.hints.noDevice);
    } else if (step == ConnectStep::CreateFile && !config_.hints.deviceNotOpened.empty()) {
        Diagnostic(config_.hints.deviceNotOpened);
    }
}

void FlashFrontEnd::OnHardwareId(std::string_view hardwareId) {
    Diagnostic("hardware identifier \"" + Printable(hardwareId) + "\"");
}

void FlashFrontEnd::OnTransferProgress(const TransferProgress& progress) {
    if (progress.retries > last_.retries && progress.blocksDone > 0) {
        Diagnostic("block " + std::to_string(progress.blocksDone - 1) + " needed " +
                   std::to_string(progress.retries - last_.retries) + " more attempt(s); " +
                   std::to_string(progress.retries) + " retries so far");
    }
    const bool firstReport = line_.totalBlocks == 0 && progress.totalBlocks != 0;
    last_ = progress;
    line_.blocksDone = progress.blocksDone;
    line_.totalBlocks = progress.totalBlocks;
    // One redraw per whole percent keeps a fast transfer from flooding the terminal.
    if (config_.terminal &&
        (firstReport || ProgressPercent(line_.blocksDone, line_.totalBlocks) != drawnPercent_)) {
        Redraw();
    }
}

bool FlashFrontEnd::StopRequested() {
    return config_.stopRequested && config_.stopRequested();
}

void FlashFrontEnd::Diagnostic(std::string_view text) {
    if (!config_.verbose) {
        return;
    }
    const bool redraw = lineDrawn_;
    ClearLine();
    out_.flush();
    // Multi-line texts keep the prefix on their first line only, so they read as one note.
    err_ << kProgramPrefix << text << '\n';
    err_.flush();
    if (redraw) {
        Redraw();
    }
}

int FlashFrontEnd::Finish(UpdateResult result) {
    EndLine();
    if (transferStarted_) {
        TransferSummary();
    }
    if (result == UpdateResult::DriverNotFound && !config_.hints.driverNotFound.empty()) {
        Diagnostic(config_.hints.driverNotFound);
    } else if (result == UpdateResult::DriverInterface) {
        Diagnostic("the library loaded, but it does not export every function the update needs");
    }
    Diagnostic("elapsed " + SecondsText(Now() - startStamp_));

    if (result == UpdateResult::Ok) {
        if (StopRequested()) {
            ErrorLine(kLateInterruptText);
        }
        out_ << kSuccessText << '\n';
        out_.flush();
    } else if (result == UpdateResult::Stopped) {
        ErrorLine(eraseStarted_ ? kInterruptedText : kEarlyInterruptText);
    } else if (!errorShown_) {
        ErrorLine(UpdateMessage(result));
    }
    return ExitCodeFor(result);
}

void FlashFrontEnd::Redraw() {
    const std::string text = FormatProgressLine(line_, config_.width);
    out_ << '\r' << text;
    if (drawnLength_ > text.size()) {
        out_ << std::string(drawnLength_ - text.size(), ' ');
    }
    out_.flush();
    drawnLength_ = text.size();
    drawnPercent_ = ProgressPercent(line_.blocksDone, line_.totalBlocks);
    lineDrawn_ = true;
}

void FlashFrontEnd::ClearLine() {
    if (!lineDrawn_) {
        return;
    }
    out_ << '\r' << std::string(drawnLength_, ' ') << '\r';
    out_.flush();
    drawnLength_ = 0;
    lineDrawn_ = false;
}

void FlashFrontEnd::EndLine() {
    if (!lineDrawn_) {
        return;
    }
    out_ << '\n';
    out_.flush();
    drawnLength_ = 0;
    lineDrawn_ = false;
}

void FlashFrontEnd::LogLine(std::string_view text) {
    out_ << text << '\n';
    out_.flush();
}

void FlashFrontEnd::ErrorLine(std::string_view text) {
    out_.flush();
    err_ << text << '\n';
    err_.flush();
}

void FlashFrontEnd::TransferSummary() {
    if (!transferStarted_ || transferSummarised_) {
        return;
    }
    transferSummarised_ = true;
    const std::uint32_t ms = Now() - transferStamp_;
    // Every acknowledged frame but the last carries a whole block.
    const std::uint64_t frames = (last_.payloadBytes + kBlockSize - 1) / kBlockSize;
    std::string text = "sent " + std::to_string(last_.payloadBytes) +
                       " acknowledged payload bytes in " + std::to_string(frames) + " blocks (" +
                       std::to_string(last_.blocksDone) + " transmit calls), " +
                       std::to_string(last_.retries) + " retries, in " + SecondsText(ms);
    if (ms > 0) {
        text += " (" + std::to_string(last_.payloadBytes * 1000u / ms) + " bytes/s)";
    }
    Diagnostic(text);
}

}  // namespace tolvex::cli
