// The teardown's deadline: where a held stop lets the system end the process, every wait of
// the teardown fits in what is left of the hold.
#include "platform/platform.h"
#include "present/presenter_impl.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/sim_driver_sandbox.h"

#include <gtest/gtest.h>

namespace corva {
namespace {

constexpr int64_t kMs = 1000000;
// Where the deadline lies after a stop at time zero.
constexpr int64_t kDeadlineAfterStopMs = platform::kTeardownHoldMs - platform::kTeardownReserveMs;

TEST(TeardownDeadline, AWaitTakesItsOwnLimitOrWhatIsLeftBeforeTheDeadline) {
    platform::clearTeardownDeadline();
    EXPECT_EQ(platform::teardownWaitMs(5000), 5000u);
    const struct {
        int64_t stoppedMsAgo;
        uint32_t capMs;
        uint32_t atLeastMs, atMostMs;  // the clock moves on while the test runs
    } cases[] = {
        {0, 5000, uint32_t(kDeadlineAfterStopMs) - 200, uint32_t(kDeadlineAfterStopMs)},
        {0, 500, 500, 500},
        {kDeadlineAfterStopMs - 1000, 5000, 800, 1000},
        {kDeadlineAfterStopMs + 10, 5000, 0, 0},
        {60000, 1500, 0, 0},
    };
    for (const auto& c : cases) {
        platform::clearTeardownDeadline();
        platform::startTeardownDeadline(platform::steadyNowNs() - c.stoppedMsAgo * kMs);
        const uint32_t waitMs = platform::teardownWaitMs(c.capMs);
        EXPECT_GE(waitMs, c.atLeastMs) << c.stoppedMsAgo << " ms ago, cap " << c.capMs;
        EXPECT_LE(waitMs, c.atMostMs) << c.stoppedMsAgo << " ms ago, cap " << c.capMs;
    }
    // A second stop (a log-off after a close) does not move the deadline away.
    platform::clearTeardownDeadline();
    platform::startTeardownDeadline(platform::steadyNowNs() - (kDeadlineAfterStopMs + 10) * kMs);
    platform::startTeardownDeadline(platform::steadyNowNs());
    EXPECT_EQ(platform::teardownWaitMs(5000), 0u);
    // A log-off holds for the hung-app time-out less a margin, at most as long as a close: after
    // a close it brings the deadline closer.
    EXPECT_EQ(platform::sessionEndHoldMs(20000), platform::kTeardownHoldMs);
    platform::clearTeardownDeadline();
    platform::startTeardownDeadline(platform::steadyNowNs(), platform::kTeardownHoldMs);
    platform::startTeardownDeadline(platform::steadyNowNs(), platform::sessionEndHoldMs(2000));
    EXPECT_LE(platform::teardownWaitMs(5000), 1000u);
    platform::clearTeardownDeadline();
}

// A frame the GPU never finishes: the presenter's teardown waits for it only until the
// deadline, then releases the display (it would wait 5 s without one).
TEST(TeardownDeadline, ThePresentersGpuWaitEndsAtTheDeadline) {
    test::SimDriverSandbox sandbox;
    std::string initOutput;
    auto presenter = test::bringUpLoopPresenter(test::loopHeadset(), initOutput);
    ASSERT_NE(presenter, nullptr) << initOutput;
    presenter->im->fenceValue += 1000;  // never reached
    platform::startTeardownDeadline(platform::steadyNowNs() - (kDeadlineAfterStopMs - 300) * kMs);
    const int64_t start = platform::steadyNowNs();
    presenter.reset();
    const int64_t tookMs = (platform::steadyNowNs() - start) / kMs;
    platform::clearTeardownDeadline();
    EXPECT_GE(tookMs, 150);
    EXPECT_LT(tookMs, 2500);
    EXPECT_EQ(sim::displayState().releaseCalls, 1u);
    sim::resetDisplay();
}

}  // namespace
}  // namespace corva
