#include "update/progress.h"

#include <chrono>
#include <limits>
#include <utility>

namespace tolvex {

namespace {

// The first estimate assumes this many file bytes go through per minute.
constexpr std::uint32_t kBytesPerMinute = 767800;
constexpr std::int64_t kBlocksPerCheckpoint = 100;

}  // namespace

std::uint32_t MonotonicMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    // Wrapping to 32 bits is harmless: only differences between two stamps are used.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::string MinutesText(std::int32_t minutes) {
    if (minutes > 1) {
        return std::to_string(minutes) + " minutes to complete the upgrade";
    }
    return "1 minute to complete the upgrade";
}

std::string SecondsText(std::int32_t seconds) {
    if (seconds > 1) {
        return std::to_string(seconds) + " seconds to complete the upgrade";
    }
    return "1 second to complete the upgrade";
}

std::string InitialEstimateText(std::uint32_t fileSize) {
    return MinutesText(static_cast<std::int32_t>(fileSize / kBytesPerMinute + 1));
}

ProgressDisplay::ProgressDisplay(UpdateFrontEnd& frontEnd, MillisecondClock clock)
    : frontEnd_(frontEnd), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = MonotonicMilliseconds;
    }
}

void ProgressDisplay::ShowStatus(std::string_view text) {
    frontEnd_.SetStatusText(text);
}

void ProgressDisplay::InitialEstimate(std::uint32_t fileSize) {
    frontEnd_.SetEstimateText(InitialEstimateText(fileSize));
}

void ProgressDisplay::StartClock() {
    lastStamp_ = clock_();
    lastShownMinutes_ = 0;
}

void ProgressDisplay::Checkpoint(std::uint32_t totalBlocks, std::uint32_t blocksDone) {
    const std::uint32_t now = clock_();
    const std::uint32_t elapsed = now - lastStamp_;  // wraps correctly across a clock wrap
    lastStamp_ = now;

    // Whole seconds per 100 blocks, halves rounded up. Done in 64 bits so that an elapsed
    // time near the 32-bit limit cannot wrap the rounding.
    const std::int64_t secondsPerHundred = (static_cast<std::int64_t>(elapsed) + 500) / 1000;
    // Blocks done may pass the total by one at the very end (the call that reads nothing);
    // the truncating division makes that 0.
    const std::int64_t hundredsLeft =
        (static_cast<std::int64_t>(totalBlocks) - static_cast<std::int64_t>(blocksDone)) /
        kBlocksPerCheckpoint;
    std::int64_t remaining = secondsPerHundred * hundredsLeft;
    if (remaining < 0) {
        // Only reachable if a caller passes more blocks done than the file can have.
        remaining = 0;
    }

    if (remaining < 60) {
        frontEnd_.SetEstimateText(SecondsText(static_cast<std::int32_t>(remaining)));
        // The label now shows seconds, not minutes: the next minutes estimate must be written
        // even if its count equals the one shown before the seconds.
        lastShownMinutes_ = 0;
        return;
    }
    std::int64_t minutes = remaining / 60;
    if (minutes > std::numeric_limits<std::int32_t>::max()) {
        minutes = std::numeric_limits<std::int32_t>::max();
    }
    const auto shownMinutes = static_cast<std::int32_t>(minutes);
    if (shownMinutes != lastShownMinutes_) {
        frontEnd_.SetEstimateText(MinutesText(shownMinutes));
        lastShownMinutes_ = shownMinutes;
    }
}

}  // namespace tolvex
