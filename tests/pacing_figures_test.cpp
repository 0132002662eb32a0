// The pacing benchmark's figures from a hand-made display timeline.
#include "tools/pacing_figures.h"

#include <gtest/gtest.h>

namespace corva::bench {
namespace {

constexpr int64_t kPeriod = 10000000;  // 10 ms
constexpr int64_t kMs = 1000000;

// Vertical blanks every 10 ms from t = 10 ms, numbered from `firstIndex`.
sim::Timeline blanks(int count, uint64_t firstIndex = 0) {
    sim::Timeline timeline;
    for (int i = 0; i < count; ++i)
        timeline.vblanks.push_back({firstIndex + uint64_t(i), (i + 1) * kPeriod, 0, 0, true});
    return timeline;
}

void addPresent(sim::Timeline& timeline, int64_t timeNs, int64_t shownAt) {
    timeline.presents.push_back({timeline.presents.size() + 1, timeNs, 0, 0, shownAt});
}

TEST(PacingFigures, CountsNewAndRepeatedBlanksHitsAndLatencyInTheWindow) {
    sim::Timeline timeline = blanks(8, 100);
    std::vector<FrameSample> frames;
    // Frame k starts 4 ms before blank k (index 100 + k, at (k + 1) * 10 ms) and is shown on it.
    for (int k = 0; k < 6; ++k) {
        const int64_t blank = (k + 1) * kPeriod;
        frames.push_back({blank - 4 * kMs, blank + 5 * kMs});  // predicted mid scan-out: a hit
        addPresent(timeline, blank - 1 * kMs, 100 + k);
    }
    frames[3].displayTimeNs = 40 * kMs + kPeriod;  // a period late: a miss
    frames[4].displayTimeNs = 0;                   // not anchored
    timeline.presents[5].shownAtVblank = -1;       // replaced before it was shown
    timeline.vblanks[5].newFrame = false;          // at 60 ms: after the window

    const PacingFigures figures = computePacingFigures(frames, 1, timeline, kPeriod);
    EXPECT_EQ(figures.frames, 5u);
    EXPECT_EQ(figures.shown, 4u);
    EXPECT_EQ(figures.anchored, 4u);
    EXPECT_EQ(figures.hits, 2u);  // frames 1 and 2; 3 missed, 4 unanchored, 5 not shown
    // Window: blanks after frame 1's present (19 ms) up to frame 5's (59 ms): 20 .. 50 ms.
    EXPECT_EQ(figures.vblanks, 4u);
    EXPECT_EQ(figures.newFrameVblanks, 4u);
    EXPECT_EQ(figures.repeatVblanks, 0u);
    EXPECT_DOUBLE_EQ(figures.meanStartToScanOutMs, 4.0);
    EXPECT_DOUBLE_EQ(figures.meanStartToPresentMs, 3.0);
}

TEST(PacingFigures, FindsTheNinetyNinthPercentileAndTheRepeatedBlanks) {
    sim::Timeline timeline = blanks(205);
    std::vector<FrameSample> frames;
    for (int k = 0; k < 200; ++k) {
        const int64_t blank = (k + 1) * kPeriod;
        const int64_t lead = k >= 150 && k < 153 ? 9 * kMs : 2 * kMs;  // three slow frames in 200
        frames.push_back({blank - lead, 0});
        addPresent(timeline, blank - kMs, k);
    }
    timeline.vblanks[100].newFrame = false;
    const PacingFigures figures = computePacingFigures(frames, 0, timeline, kPeriod);
    EXPECT_DOUBLE_EQ(figures.p99StartToScanOutMs, 9.0);  // rank 198 of 200
    EXPECT_EQ(figures.repeatVblanks, 1u);
    EXPECT_EQ(figures.anchored, 0u);
    EXPECT_EQ(figures.hits, 0u);
}

TEST(PacingFigures, AWindowWithoutFramesIsEmpty) {
    const sim::Timeline timeline = blanks(3);
    const PacingFigures figures = computePacingFigures({}, 0, timeline, kPeriod);
    EXPECT_EQ(figures.frames, 0u);
    EXPECT_EQ(figures.vblanks, 0u);
}

}  // namespace
}  // namespace corva::bench
