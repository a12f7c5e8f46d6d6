#include "cli/progress_line.h"

#include <algorithm>

namespace tolvex::cli {

namespace {
constexpr std::size_t kDefaultWidth = 80;
// The longest status text, so the bar does not jump sideways between stages.
constexpr std::size_t kStatusColumn = 16;
}  // namespace

unsigned ProgressPercent(std::uint32_t blocksDone, std::uint32_t totalBlocks) {
    if (totalBlocks == 0) {
        return 0;
    }
    const std::uint64_t done = std::min(blocksDone, totalBlocks);
    return static_cast<unsigned>(done * 100u / totalBlocks);
}

std::string FormatProgressLine(const ProgressLineState& state, std::size_t width) {
    if (width == 0) {
        width = kDefaultWidth;
    }
    std::string line;
    if (state.statusVisible) {
        line = state.status;
    }
    if (line.size() < kStatusColumn) {
        line.append(kStatusColumn - line.size(), ' ');
    } else {
        line += ' ';
    }

    const unsigned percent = ProgressPercent(state.blocksDone, state.totalBlocks);
    const std::size_t filled = kProgressBarWidth * percent / 100u;
    line += '[';
    line.append(filled, '#');
    line.append(kProgressBarWidth - filled, '.');
    line += "] ";
    const std::string percentText = std::to_string(percent) + "%";
    line.append(4 - std::min<std::size_t>(percentText.size(), 4), ' ');
    line += percentText;

    if (state.totalBlocks > 0) {
        const std::uint32_t shown = std::min(state.blocksDone, state.totalBlocks);
        line += "  " + std::to_string(shown) + "/" + std::to_string(state.totalBlocks) + " blocks";
    }
    if (state.estimateVisible && !state.estimate.empty()) {
        line += "  " + state.estimate;
    }
    if (line.size() > width - 1) {
        line.resize(width - 1);
    }
    return line;
}

}  // namespace tolvex::cli
