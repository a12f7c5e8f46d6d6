// The status and time-estimate texts. Runs on the update worker thread; the texts go to the
// front end, which shows them on its UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "update/front_end.h"

namespace tolvex {

inline constexpr std::string_view kStatusErasing = "Erasing...";
inline constexpr std::string_view kStatusTransmitting = "Transmitting...";
inline constexpr std::string_view kStatusVerifying = "Verifying...";

// A 32-bit millisecond stamp; only differences between two stamps are used.
using MillisecondClock = std::function<std::uint32_t()>;

// The default clock: a monotonic clock, so that setting the wall clock mid-transfer cannot
// produce a nonsense estimate.
std::uint32_t MonotonicMilliseconds();

// The first estimate, from the file size alone.
std::string InitialEstimateText(std::uint32_t fileSize);

// "%d minutes to complete the upgrade" and its singular; "%d seconds ..." and its singular.
std::string MinutesText(std::int32_t minutes);
std::string SecondsText(std::int32_t seconds);

// The estimate state of one transfer.
class ProgressDisplay {
  public:
    ProgressDisplay(UpdateFrontEnd& frontEnd, MillisecondClock clock);

    void ShowStatus(std::string_view text);
    void InitialEstimate(std::uint32_t fileSize);
    // Reads the clock once; resets the last shown minutes to 0.
    void StartClock();
    // Reads the clock once and may rewrite the estimate (every 100th transmit call).
    void Checkpoint(std::uint32_t totalBlocks, std::uint32_t blocksDone);

  private:
    UpdateFrontEnd& frontEnd_;
    MillisecondClock clock_;
    std::uint32_t lastStamp_ = 0;
    std::int32_t lastShownMinutes_ = 0;
};

}  // namespace tolvex
