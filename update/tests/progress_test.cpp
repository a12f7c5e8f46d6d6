#include "update/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/tests/recording_front_end.h"

namespace tolvex {
namespace {

using test::RecordingFrontEnd;

// A clock the test moves by hand; counts how often it is read.
struct ManualClock {
    std::uint32_t now = 0;
    int reads = 0;
    MillisecondClock AsFunction() {
        return [this] {
            ++reads;
            return now;
        };
    }
};

struct InitialCase {
    std::uint32_t fileSize;
    const char* text;
};

void PrintTo(const InitialCase& c, std::ostream* os) {
    *os << c.fileSize << " bytes";
}

class InitialEstimateTest : public ::testing::TestWithParam<InitialCase> {};

TEST_P(InitialEstimateTest, TextFromFileSize) {
    EXPECT_EQ(InitialEstimateText(GetParam().fileSize), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, InitialEstimateTest,
    ::testing::Values(InitialCase{20, "1 minute to complete the upgrade"},
                      InitialCase{767799, "1 minute to complete the upgrade"},
                      InitialCase{767800, "2 minutes to complete the upgrade"},
                      InitialCase{3 * 767800 + 5, "4 minutes to complete the upgrade"},
                      InitialCase{0xFFFFFFFFu, "5594 minutes to complete the upgrade"}));

TEST(ProgressTexts, SingularAndPluralForms) {
    EXPECT_EQ(MinutesText(2), "2 minutes to complete the upgrade");
    EXPECT_EQ(MinutesText(1), "1 minute to complete the upgrade");
    EXPECT_EQ(SecondsText(59), "59 seconds to complete the upgrade");
    EXPECT_EQ(SecondsText(2), "2 seconds to complete the upgrade");
    EXPECT_EQ(SecondsText(1), "1 second to complete the upgrade");
    EXPECT_EQ(SecondsText(0), "1 second to complete the upgrade");
}

TEST(ProgressDisplayTest, StatusAndInitialEstimateGoToTheirLabels) {
    RecordingFrontEnd frontEnd;
    ManualClock clock;
    ProgressDisplay display(frontEnd, clock.AsFunction());
    display.ShowStatus(kStatusErasing);
    display.InitialEstimate(767800);
    EXPECT_EQ(frontEnd.calls,
              (std::vector<std::string>{"status=Erasing...",
                                        "estimate=2 minutes to complete the upgrade"}));
    EXPECT_EQ(clock.reads, 0);
}

// One checkpoint after a fresh start: how long the last 100 blocks took and where the
// transfer stands, and the text that results.
struct CheckpointCase {
    const char* name;
    std::uint32_t elapsedMs;
    std::uint32_t totalBlocks;
    std::uint32_t blocksDone;
    const char* text;
};

void PrintTo(const CheckpointCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckpointTest : public ::testing::TestWithParam<CheckpointCase> {};

TEST_P(CheckpointTest, TextAfterFirstCheckpoint) {
    const CheckpointCase& c = GetParam();
    RecordingFrontEnd frontEnd;
    ManualClock clock{0x12345678u};
    ProgressDisplay display(frontEnd, clock.AsFunction());
    display.StartClock();
    clock.now += c.elapsedMs;
    display.Checkpoint(c.totalBlocks, c.blocksDone);
    EXPECT_EQ(frontEnd.EstimateTexts(), std::vector<std::string>{c.text});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckpointTest,
    ::testing::Values(
        CheckpointCase{"ThreeSecondsLeft", 1400, 1000, 650, "3 seconds to complete the upgrade"},
        CheckpointCase{"FastBlocksRoundToZero", 400, 40000, 100,
                       "1 second to complete the upgrade"},
        CheckpointCase{"HalfSecondRoundsUp", 1500, 1000, 500, "10 seconds to complete the upgrade"},
        CheckpointCase{"JustBelowHalfRoundsDown", 1499, 1000, 500,
                       "5 seconds to complete the upgrade"},
        CheckpointCase{"SeventySixSecondsIsOneMinute", 2000, 4000, 200,
                       "1 minute to complete the upgrade"},
        CheckpointCase{"SeveralMinutes", 4000, 4000, 100, "2 minutes to complete the upgrade"},
        CheckpointCase{"DoneOnePastTotalLeavesNothing", 3000, 299, 300,
                       "1 second to complete the upgrade"},
        // A stalled transfer with a large file: the product must not wrap into a negative
        // or tiny number.
        CheckpointCase{"LongStallOnLargeFile", 0xFFFFFF00u, 17179800, 100,
                       "2147483647 minutes to complete the upgrade"}),
    [](const ::testing::TestParamInfo<CheckpointCase>& param) { return param.param.name; });

class CheckpointSequenceTest : public ::testing::Test {
  protected:
    // Runs one checkpoint that took `elapsedMs` and returns the estimate texts it wrote.
    std::vector<std::string> Step(std::uint32_t elapsedMs, std::uint32_t total,
                                  std::uint32_t done) {
        frontEnd.calls.clear();
        clock.now += elapsedMs;
        display.Checkpoint(total, done);
        return frontEnd.EstimateTexts();
    }

    RecordingFrontEnd frontEnd;
    ManualClock clock{1000};
    ProgressDisplay display{frontEnd, clock.AsFunction()};
};

using Texts = std::vector<std::string>;

TEST_F(CheckpointSequenceTest, UnchangedMinuteCountLeavesTheTextAlone) {
    display.StartClock();
    EXPECT_EQ(Step(5000, 7000, 100), Texts{"5 minutes to complete the upgrade"});  // 5 s x 69
    EXPECT_EQ(Step(5000, 7000, 200), Texts{});  // 5 s x 68: still 5 minutes
    EXPECT_EQ(Step(2000, 7000, 300), Texts{"2 minutes to complete the upgrade"});
    EXPECT_EQ(Step(2000, 7000, 400), Texts{});  // 2 s x 66
}

TEST_F(CheckpointSequenceTest, FromMinutesIntoSecondsRewritesEveryCheckpoint) {
    display.StartClock();
    EXPECT_EQ(Step(61000, 299, 100), Texts{"1 minute to complete the upgrade"});
    EXPECT_EQ(Step(59000, 399, 200), Texts{"59 seconds to complete the upgrade"});
    EXPECT_EQ(Step(59000, 499, 300), Texts{"59 seconds to complete the upgrade"});
}

TEST_F(CheckpointSequenceTest, MinutesAfterSecondsAreShownEvenWithTheSameCount) {
    // The label showed 1 minute, then seconds; a slower stretch giving 1 minute again must
    // replace the seconds text rather than leave it standing.
    display.StartClock();
    EXPECT_EQ(Step(90000, 299, 100), Texts{"1 minute to complete the upgrade"});
    EXPECT_EQ(Step(30000, 399, 200), Texts{"30 seconds to complete the upgrade"});
    EXPECT_EQ(Step(90000, 499, 300), Texts{"1 minute to complete the upgrade"});
}

TEST_F(CheckpointSequenceTest, StartClockForgetsTheLastShownMinutes) {
    display.StartClock();
    EXPECT_EQ(Step(5000, 7000, 100), Texts{"5 minutes to complete the upgrade"});
    display.StartClock();  // a second transfer
    EXPECT_EQ(Step(5000, 7000, 100), Texts{"5 minutes to complete the upgrade"});
}

TEST_F(CheckpointSequenceTest, ClockWrapBetweenStampsStillMeasuresTheDifference) {
    clock.now = 0xFFFFFE00u;
    display.StartClock();
    EXPECT_EQ(Step(1400, 1000, 650), Texts{"3 seconds to complete the upgrade"});
}

TEST_F(CheckpointSequenceTest, ClockIsReadOnceAtStartAndOncePerCheckpoint) {
    display.StartClock();
    EXPECT_EQ(clock.reads, 1);
    Step(1000, 1000, 100);
    Step(1000, 1000, 200);
    EXPECT_EQ(clock.reads, 3);
}

TEST(MonotonicMillisecondsTest, NeverGoesBackwards) {
    const std::uint32_t first = MonotonicMilliseconds();
    const std::uint32_t second = MonotonicMilliseconds();
    // A difference, as the estimate uses it: small and not "negative" (huge) when wrapped.
    EXPECT_LT(static_cast<std::uint32_t>(second - first), 60000u);
}

}  // namespace
}  // namespace tolvex
