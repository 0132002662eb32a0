// The present loop without its usual aids, against the simulated display's ground truth:
// without a present waitable (paced and judged by its own loop timing), and without a
// high-resolution timer (the just-in-time wait sleeps, then spins).
#include "platform/platform.h"
#include "tests/support/sample_lines.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_clock.h"
#include "present/presenter_impl.h"
#include "sim/driver/sim_display.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/prediction_hits.h"
#include "tests/support/sim_driver_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace corva {
namespace {

constexpr int64_t kPeriodNs = 1000000000 / 75;

// The platform's clock with no high-resolution timer to be had; its sleeps are recorded.
class ClockWithoutTimer final : public PresenterClock {
  public:
    int64_t nowNs() override { return platform::steadyNowNs(); }
    void sleepMs(uint32_t ms) override {
        platform::sleepMs(ms);
        lastSleepEndNs = platform::steadyNowNs();
        ++sleeps;
    }
    platform::WaitResult waitFor(platform::OsHandle handle, uint32_t timeoutMs) override {
        return platform::waitFor(handle, timeoutMs);
    }
    platform::OsHandle createHighResolutionTimer() override { return nullptr; }

    int64_t lastSleepEndNs = 0;
    int sleeps = 0;
};

class PresentLoopPaths : public ::testing::Test {
  protected:
    // The headset at 75 Hz; without a present waitable when `waitable` is false.
    void bringUp(bool waitable) {
        sim::DisplayConfig display = test::loopHeadset();
        if (!waitable) display.statuses[NvInterfaceId::GetPresentWaitableObject] = sim::StatusScript{{}, -1};
        std::string initOutput;
        presenter = test::bringUpLoopPresenter(display, initOutput);
        ASSERT_NE(presenter, nullptr) << initOutput;
        ASSERT_EQ(presenter->im->waitableOk, waitable);
    }
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }
    std::string run(double seconds, const FrameCallback& draw) {
        testing::internal::CaptureStderr();
        presenter->run(seconds, draw);
        return testing::internal::GetCapturedStderr();
    }
    // Successful presents from frame `from` to frame `to`, in periods of the mode.
    static double periodsBetweenPresents(const sim::Timeline& timeline, size_t from, size_t to) {
        return double(timeline.presents[to].timeNs - timeline.presents[from].timeNs) / double(kPeriodNs);
    }

    test::SimDriverSandbox sandbox;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
};

// Nothing holds the loop back: it sees itself running fast, goes into free-run and paces
// itself at the mode's rate; slow frames (over 0.8 of a period) end the episode; fast ones
// start another, counted but silent as it is within 10 s of the last.
TEST_F(PresentLoopPaths, WithoutAWaitableTheLoopPacesItselfFromItsOwnTiming) {
    bringUp(false);
    std::vector<int64_t> displayTimes;
    std::vector<bool> freeRunning;
    displayTimes.reserve(256);
    freeRunning.reserve(256);
    const std::string err = run(0.0, [&](const FrameContext& frame) {
        displayTimes.push_back(frame.displayTimeNs);
        freeRunning.push_back(presenter->stats().freeRunning);
        if (frame.frameIndex >= 80 && frame.frameIndex < 100)
            std::this_thread::sleep_for(std::chrono::milliseconds(12));  // slow frames
        if (frame.frameIndex == 159) presenter->requestStop();
    });
    const PresentStats stats = presenter->stats();
    EXPECT_EQ(stats.frames, 160u);
    EXPECT_EQ(stats.freeRunEvents, 2u);
    EXPECT_EQ(stats.waitTimeouts, 0u);
    EXPECT_FALSE(stats.displayLost);
    EXPECT_EQ(err, test::printed(lines::kFreeRunStart, 75.0) + test::printed(lines::kFreeRunOver));
    // Never anchored without a vertical blank to go by: no display-time prediction.
    EXPECT_EQ(std::count(displayTimes.begin(), displayTimes.end(), 0), 160);
    // Free-run from the 30th fast frame; over within the slow ones; again after them.
    EXPECT_FALSE(freeRunning[20]);
    EXPECT_TRUE(freeRunning[40]);
    EXPECT_TRUE(freeRunning[79]);
    EXPECT_FALSE(freeRunning[100]);
    EXPECT_TRUE(freeRunning[159]);

    // The display's truth: while free-running, about one frame per period reached it.
    const sim::Timeline timeline = sim::timeline();
    ASSERT_EQ(timeline.presents.size(), 160u);
    const double periods = periodsBetweenPresents(timeline, 40, 79);
    EXPECT_GT(periods, 39 * 0.8);
    EXPECT_LT(periods, 39 * 2.0);
    int shown = 0;  // scanned out, not overwritten unseen
    for (size_t i = 40; i < 80; ++i) shown += timeline.presents[i].shownAtVblank >= 0 ? 1 : 0;
    EXPECT_GE(shown, 20);
}

// Without the timer the just-in-time wait sleeps until 1.5 ms before its target and spins
// the rest: frames still start just in time and reach the panel when predicted.
TEST_F(PresentLoopPaths, WithoutAHighResolutionTimerTheWaitSleepsThenSpins) {
    bringUp(true);
    ClockWithoutTimer clock;
    presenter->im->clock = &clock;
    std::vector<int64_t> displayTimes;
    std::vector<double> spinMs;
    displayTimes.reserve(256);
    spinMs.reserve(256);
    int sleepsSeen = 0;
    run(1.5, [&](const FrameContext& frame) {
        displayTimes.push_back(frame.displayTimeNs);
        // A sleep just before this frame: how long the loop went on waiting after it.
        if (clock.sleeps != sleepsSeen && frame.displayTimeNs != 0)
            spinMs.push_back(double(platform::steadyNowNs() - clock.lastSleepEndNs) / 1e6);
        sleepsSeen = clock.sleeps;
    });
    const PresentStats stats = presenter->stats();
    EXPECT_EQ(stats.freeRunEvents, 0u);
    EXPECT_GT(stats.frames, 75u);   // 1.5 s at 75 Hz: paced by the vertical blank
    EXPECT_LT(stats.frames, 135u);  // and not faster

    // A loaded machine makes frames slow and the wait short: only some frames sleep.
    ASSERT_GE(spinMs.size(), 5u) << "the just-in-time wait did not sleep";
    std::sort(spinMs.begin(), spinMs.end());
    const double median = spinMs[spinMs.size() / 2];
    EXPECT_GT(median, 0.5) << "no spin after the sleep";
    EXPECT_LT(median, 6.0);

    // The display's truth: anchored frames mostly reach the panel at the predicted time.
    const sim::Timeline timeline = sim::timeline();
    ASSERT_EQ(timeline.presents.size(), displayTimes.size());
    const test::PredictionHits p = test::predictionHits(timeline, displayTimes, kPeriodNs);
    EXPECT_GT(p.anchored, 60);
    EXPECT_GE(p.hits, p.anchored / 2) << p.hits << " of " << p.anchored;
}

}  // namespace
}  // namespace corva
