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

namespace {

enum class Counts { Full, Short, None };  // "120/321 blocks", "120/321", nothing

std::string Compose(const ProgressLineState& state, std::size_t barWidth, Counts counts) {
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
    const std::size_t filled = barWidth * percent / 100u;
    line += '[';
    line.append(filled, '#');
    line.append(barWidth - filled, '.');
    line += "] ";
    const std::string percentText = std::to_string(percent) + "%";
    line.append(4 - std::min<std::size_t>(percentText.size(), 4), ' ');
    line += percentText;

    if (state.totalBlocks > 0 && counts != Counts::None) {
        const std::uint32_t shown = std::min(state.blocksDone, state.totalBlocks);
        line += "  " + std::to_string(shown) + "/" + std::to_string(state.totalBlocks);
        if (counts == Counts::Full) {
            line += " blocks";
        }
    }
    if (state.estimateVisible && !state.estimate.empty()) {
        line += "  " + state.estimate;
    }
    return line;
}

}  // namespace

std::string FormatProgressLine(const ProgressLineState& state, std::size_t width) {
    if (width == 0) {
        width = kDefaultWidth;
    }
    const std::size_t room = width - 1;
    // On a narrow terminal the bar shrinks first, then the counts go: the estimate is the
    // window's own text and is kept whole as long as anything can be.
    for (const Counts counts : {Counts::Full, Counts::Short, Counts::None}) {
        for (std::size_t bar = kProgressBarWidth; bar >= kMinProgressBarWidth; --bar) {
            std::string line = Compose(state, bar, counts);
            if (line.size() <= room) {
                return line;
            }
        }
    }
    std::string line = Compose(state, kMinProgressBarWidth, Counts::None);
    line.resize(room);
    return line;
}

}  // namespace tolvex::cli
