#include <gtest/gtest.h>

#include <string>

#include "cli/progress_line.h"

namespace tolvex::cli {
namespace {

TEST(ProgressPercent, CountsWholePercentAndNeverPassesAHundred) {
    struct Row {
        std::uint32_t done, total;
        unsigned percent;
    };
    const Row rows[] = {
        {0, 0, 0},       // total not known yet
        {5, 0, 0},       //
        {0, 240, 0},     //
        {1, 3, 33},      // rounds down
        {239, 240, 99},  // not 100 until the last block is done
        {240, 240, 100},
        {241, 240, 100},                  // the closing call that found nothing left to send
        {4000000000u, 4000000000u, 100},  // no overflow in done * 100
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProgressPercent(row.done, row.total), row.percent)
            << row.done << "/" << row.total;
    }
}

ProgressLineState Transmitting(std::uint32_t done, std::uint32_t total) {
    ProgressLineState state;
    state.status = "Transmitting...";
    state.statusVisible = true;
    state.estimate = "1 minute to complete the upgrade";
    state.estimateVisible = true;
    state.blocksDone = done;
    state.totalBlocks = total;
    return state;
}

TEST(ProgressLine, ShowsStageBarPercentBlocksAndEstimate) {
    EXPECT_EQ(FormatProgressLine(Transmitting(120, 240), 200),
              "Transmitting... [############............]  50%  120/240 blocks  "
              "1 minute to complete the upgrade");
}

TEST(ProgressLine, ShowsNoCountsBeforeTheTransferAndNoHiddenLabel) {
    ProgressLineState erasing;
    erasing.status = "Erasing...";
    erasing.statusVisible = true;
    EXPECT_EQ(FormatProgressLine(erasing, 200), "Erasing...      [........................]   0%");

    ProgressLineState verifying = Transmitting(241, 240);
    verifying.status = "Verifying...";
    verifying.estimateVisible = false;  // hidden after the transfer
    EXPECT_EQ(FormatProgressLine(verifying, 200),
              "Verifying...    [########################] 100%  240/240 blocks");
}

TEST(ProgressLine, NeverFillsTheLastColumnSoTheTerminalDoesNotWrap) {
    for (const std::size_t width : {1u, 10u, 40u, 60u, 80u, 100u}) {
        EXPECT_LE(FormatProgressLine(Transmitting(1, 2), width).size(), width - 1)
            << "width " << width;
    }
    // Unknown width: assume 80 columns.
    EXPECT_LE(FormatProgressLine(Transmitting(1, 2), 0).size(), 79u);
}

TEST(ProgressLine, OnANarrowTerminalTheBarAndCountsGiveWayToTheEstimate) {
    const ProgressLineState state = Transmitting(120, 240);
    EXPECT_EQ(FormatProgressLine(state, 100),
              "Transmitting... [############............]  50%  120/240 blocks  "
              "1 minute to complete the upgrade");
    // 80 columns: a shorter bar and the bare counts, the estimate whole.
    EXPECT_EQ(FormatProgressLine(state, 80),
              "Transmitting... [######.......]  50%  120/240  1 minute to complete the upgrade");
    // The counts go before the estimate is cut; the bar takes the room they leave.
    EXPECT_EQ(FormatProgressLine(state, 70),
              "Transmitting... [######......]  50%  1 minute to complete the upgrade");
    // Narrower still: the shortest bar, then cut, never wrapped.
    EXPECT_EQ(FormatProgressLine(state, 50), "Transmitting... [#####.....]  50%  1 minute to co");
}

}  // namespace
}  // namespace tolvex::cli
