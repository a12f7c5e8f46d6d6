// The command line's front end over the update: a log of the run when standard output is not
// a terminal, one progress line redrawn in place when it is, the error box as a line on
// standard error, and diagnostics on standard error in verbose mode. Everything runs on the
// thread that runs the update (tolvex-flash's main thread); nothing here blocks beyond writing
// to the two streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/progress_line.h"
#include "update/front_end.h"
#include "update/progress.h"

namespace tolvex::cli {

struct FrontEndConfig {
    bool terminal = false;                // redraw one progress line instead of logging lines
    std::size_t width = 0;                // terminal columns; 0 when unknown
    bool verbose = false;                 // diagnostics on the error stream
    std::function<bool()> stopRequested;  // the Ctrl-C flag; empty: never
    MillisecondClock clock;               // for elapsed time; empty: MonotonicMilliseconds
    PlatformHints hints;
};

class FlashFrontEnd final : public UpdateFrontEnd {
  public:
    FlashFrontEnd(std::ostream& out, std::ostream& err, FrontEndConfig config);

    void SetStatusText(std::string_view text) override;
    void SetStatusVisible(bool visible) override;
    void SetEstimateText(std::string_view text) override;
    void SetEstimateVisible(bool visible) override;
    void ShowError(UpdateResult result, std::string_view message) override;

    void OnDriverBound(const std::string& loadedPath) override;
    void OnDriverFailed(const std::string& loaderText) override;
    void OnConnectFailed(ConnectStep step) override;
    void OnHardwareId(std::string_view hardwareId) override;
    void OnTransferProgress(const TransferProgress& progress) override;

    bool StopRequested() override;

    // A verbose diagnostic line ("tolvex-flash: " + text); nothing unless verbose.
    void Diagnostic(std::string_view text);

    // Ends the run's display once the update has returned: finishes the progress line,
    // states the outcome (the success line on standard output, or the failure's message if
    // the update did not show one) and returns the exit code.
    int Finish(UpdateResult result);

  private:
    std::uint32_t Now() const;
    void Redraw();
    void ClearLine();
    void EndLine();
    void LogLine(std::string_view text);
    void ErrorLine(std::string_view text);
    void TransferSummary();

    std::ostream& out_;
    std::ostream& err_;
    FrontEndConfig config_;

    ProgressLineState line_;
    bool lineDrawn_ = false;
    std::size_t drawnLength_ = 0;
    unsigned drawnPercent_ = 0;

    bool errorShown_ = false;
    std::uint32_t startStamp_ = 0;
    bool eraseStarted_ = false;
    bool transferStarted_ = false;
    bool transferSummarised_ = false;
    std::uint32_t transferStamp_ = 0;
    TransferProgress last_{};
};

}  // namespace tolvex::cli
