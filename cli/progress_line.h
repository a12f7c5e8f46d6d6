// The one-line progress display tolvex-flash redraws in place on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex::cli {

// What the line shows; mirrors the window's two labels plus the transfer's block counts.
struct ProgressLineState {
    std::string status;  // "Erasing...", "Transmitting...", "Verifying..."
    bool statusVisible = false;
    std::string estimate;  // the estimate text, as the window would show it
    bool estimateVisible = false;
    std::uint32_t blocksDone = 0;
    std::uint32_t totalBlocks = 0;  // 0 until the transfer reports it
};

inline constexpr std::size_t kProgressBarWidth = 24;
inline constexpr std::size_t kMinProgressBarWidth = 10;

// Whole percent of the transfer, 0-100. The last transmit call may find nothing left to send,
// so blocksDone can exceed totalBlocks by one; that still reads 100.
unsigned ProgressPercent(std::uint32_t blocksDone, std::uint32_t totalBlocks);

// "Transmitting...  [#########...............]  37%  120/321 blocks  1 minute to ..."
// At most width - 1 characters, so that the terminal never wraps it and a carriage return
// always goes back to its start: on a narrow terminal the bar shrinks, then the block counts
// go, and only then is the line cut. A width of 0 means unknown (80 is assumed).
std::string FormatProgressLine(const ProgressLineState& state, std::size_t width);

}  // namespace tolvex::cli
