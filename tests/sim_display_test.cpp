// The simulated display's timing and faults, as the present loop meets them: vertical
// blanks at the mode's rate while the panels are on, which frame each one scanned out,
// and the injected faults. Brought up by the real presenter, then driven call by call.
#include "nvapi/nvapi.h"
#include "platform/platform.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "sim/driver/sim_display.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/sim_driver_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace corva {
namespace {

using platform::WaitResult;

class SimDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::resetDisplay();
        presenter = std::make_unique<NvapiD3d12Presenter>(PresenterConfig{});
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const bool ok = presenter->init();
        const std::string err = ::testing::internal::GetCapturedStderr();
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok) << err;
    }
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }

    PresenterImpl& im() { return *presenter->im; }
    NvStatus present(int buffer) {
        return Present12(&im().display, im().surf[buffer], 1, im().queue.Get(), im().list.Get());
    }
    WaitResult waitVblank(uint32_t timeoutMs = 1000) { return platform::waitFor(im().waitable, timeoutMs); }
    uint64_t vblanks() { return sim::displayState().vblanks; }
    const sim::PresentRecord& presentNumber(const sim::Timeline& timeline, uint64_t seq) {
        return *std::find_if(timeline.presents.begin(), timeline.presents.end(),
                             [seq](const sim::PresentRecord& p) { return p.seq == seq; });
    }

    test::SimDriverSandbox sandbox;
    // What a panel-power listener heard; outlives the presenter's teardown.
    std::mutex seenLock;
    std::vector<sim::PanelTransition> seen;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
};

TEST_F(SimDisplay, VerticalBlanksRunAtTheModeRateOnlyWhilePanelsAreOn) {
    platform::sleepMs(400);
    const sim::Timeline timeline = sim::timeline();
    ASSERT_GE(timeline.vblanks.size(), 15u);  // 30 at 75 Hz; generous for a busy machine
    ASSERT_LE(timeline.vblanks.size(), 40u);
    std::vector<int64_t> intervals;
    for (size_t i = 1; i < timeline.vblanks.size(); ++i)
        intervals.push_back(timeline.vblanks[i].timeNs - timeline.vblanks[i - 1].timeNs);
    std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
    EXPECT_NEAR(double(intervals[intervals.size() / 2]), 1e9 / 75.0, 1.5e6);

    sim::setPanelPowerListener([&](bool on, int64_t timeNs) {
        std::lock_guard<std::mutex> lock(seenLock);
        seen.push_back({on, timeNs});
    });
    ASSERT_EQ(DisplayControl(&im().display, kPanelPowerOff), kNvOk);
    const uint64_t atOff = vblanks();
    waitVblank(0);  // a vertical blank nobody waited for stays signalled
    platform::sleepMs(100);
    EXPECT_EQ(waitVblank(0), WaitResult::TimedOut);
    EXPECT_EQ(vblanks(), atOff);
    EXPECT_FALSE(sim::displayState().panelOn);
    ASSERT_EQ(DisplayControl(&im().display, kPanelPowerOn), kNvOk);
    EXPECT_EQ(waitVblank(), WaitResult::Signalled);
    EXPECT_GT(vblanks(), atOff);

    const std::vector<sim::PanelTransition> transitions = sim::panelTransitions();
    ASSERT_EQ(transitions.size(), 3u);  // on at init, off, on
    EXPECT_TRUE(transitions[0].on);
    EXPECT_FALSE(transitions[1].on);
    EXPECT_TRUE(transitions[2].on);
    EXPECT_LT(transitions[1].timeNs, transitions[2].timeNs);
    std::lock_guard<std::mutex> lock(seenLock);
    ASSERT_EQ(seen.size(), 2u);  // the listener hears changes, not the power-on of init
    EXPECT_FALSE(seen[0].on);
    EXPECT_EQ(seen[0].timeNs, transitions[1].timeNs);
    EXPECT_TRUE(seen[1].on);
}

TEST_F(SimDisplay, FrameReachesThePanelAtTheFirstVerticalBlankAfterItsPresent) {
    ASSERT_EQ(waitVblank(), WaitResult::Signalled);  // just after a vertical blank
    ASSERT_EQ(present(0), kNvOk);
    ASSERT_EQ(waitVblank(), WaitResult::Signalled);
    ASSERT_EQ(waitVblank(), WaitResult::Signalled);  // one more: the same frame again
    // Two presents before one vertical blank: only the later is ever shown.
    ASSERT_EQ(present(1), kNvOk);
    ASSERT_EQ(present(0), kNvOk);
    ASSERT_EQ(waitVblank(), WaitResult::Signalled);
    platform::sleepMs(2);  // the vertical blank is recorded before it is signalled; be sure

    const sim::Timeline timeline = sim::timeline();
    ASSERT_EQ(timeline.presents.size(), 3u);
    const sim::PresentRecord& first = presentNumber(timeline, 1);
    ASSERT_GE(first.shownAtVblank, 0);
    const auto shownAt =
        std::find_if(timeline.vblanks.begin(), timeline.vblanks.end(),
                     [&](const sim::VblankRecord& v) { return v.index == uint64_t(first.shownAtVblank); });
    ASSERT_NE(shownAt, timeline.vblanks.end());
    ASSERT_NE(shownAt, timeline.vblanks.begin());
    ASSERT_NE(shownAt + 1, timeline.vblanks.end());
    EXPECT_GT(shownAt->timeNs, first.timeNs);
    EXPECT_LE((shownAt - 1)->timeNs, first.timeNs);  // the first vertical blank after it
    EXPECT_TRUE(shownAt->newFrame);
    EXPECT_EQ(shownAt->presentSeq, 1u);
    EXPECT_EQ(shownAt->surface, im().surf[0]);
    EXPECT_FALSE((shownAt + 1)->newFrame);
    EXPECT_EQ((shownAt + 1)->presentSeq, 1u);

    EXPECT_EQ(presentNumber(timeline, 2).shownAtVblank, -1);
    EXPECT_GT(presentNumber(timeline, 3).shownAtVblank, first.shownAtVblank);
}

TEST_F(SimDisplay, LostVerticalBlankLeavesTheWaitableSignalledAfterEveryPresent) {
    sim::setVblankLost(true);
    platform::sleepMs(20);
    const uint64_t atLoss = vblanks();
    for (int frame = 0; frame < 5; ++frame) {
        ASSERT_EQ(present(frame & 1), kNvOk);
        EXPECT_EQ(waitVblank(0), WaitResult::Signalled);
    }
    platform::sleepMs(50);
    EXPECT_EQ(vblanks(), atLoss);
    sim::setVblankLost(false);
    ASSERT_EQ(present(0), kNvOk);
    EXPECT_EQ(waitVblank(), WaitResult::Signalled);
    EXPECT_GT(vblanks(), atLoss);
}

TEST_F(SimDisplay, DeadWaitableIsNeverSignalledWhileTheDisplayRuns) {
    sim::setWaitableDead(true);
    waitVblank(0);  // whatever was pending before the fault
    const uint64_t before = vblanks();
    EXPECT_EQ(waitVblank(150), WaitResult::TimedOut);
    EXPECT_GT(vblanks(), before);
    sim::setWaitableDead(false);
    EXPECT_EQ(waitVblank(), WaitResult::Signalled);
}

TEST_F(SimDisplay, RemovedDeviceReportsItselfRemovedAlsoWithPanelsOff) {
    EXPECT_EQ(im().dev->GetDeviceRemovedReason(), S_OK);
    sim::setDeviceRemoved(true);
    EXPECT_EQ(uint32_t(im().dev->GetDeviceRemovedReason()), 0x887A0005u);
    ASSERT_EQ(DisplayControl(&im().display, kPanelPowerOff), kNvOk);
    EXPECT_EQ(uint32_t(im().dev->GetDeviceRemovedReason()), 0x887A0005u);
    sim::setDeviceRemoved(false);
    EXPECT_EQ(im().dev->GetDeviceRemovedReason(), S_OK);
}

TEST_F(SimDisplay, InjectedPresentFailuresAreRecordedAndShowNothing) {
    sim::failPresents(2, -7);
    EXPECT_EQ(present(0), -7);
    EXPECT_EQ(present(1), -7);
    EXPECT_EQ(present(0), kNvOk);
    NvDirectModeDisplay stranger = im().display;
    stranger.displayId ^= 1;
    EXPECT_NE(Present12(&stranger, im().surf[0], 1, im().queue.Get(), im().list.Get()), kNvOk);
    const sim::Timeline timeline = sim::timeline();
    ASSERT_EQ(timeline.presents.size(), 4u);
    EXPECT_EQ(timeline.presents[0].status, -7);
    EXPECT_EQ(timeline.presents[1].status, -7);
    EXPECT_EQ(timeline.presents[2].status, kNvOk);
    EXPECT_NE(timeline.presents[3].status, kNvOk);
}

TEST_F(SimDisplay, PresentingAllocatesNothing) {
    present(0);  // the entry point is resolved and cached on first use
    const uint64_t before = test::allocationsOnThisThread();
    for (int frame = 0; frame < 200; ++frame) present(frame & 1);
    sim::setVblankLost(true);
    for (int frame = 0; frame < 50; ++frame) present(frame & 1);
    sim::failPresents(3);
    for (int frame = 0; frame < 5; ++frame) present(frame & 1);
    EXPECT_EQ(test::allocationsOnThisThread() - before, 0u);
}

TEST_F(SimDisplay, ReleasedDisplayGoesDarkAndStopsItsClock) {
    presenter.reset();
    const sim::DisplayState state = sim::displayState();
    EXPECT_FALSE(state.acquired);
    EXPECT_FALSE(state.panelOn);
    EXPECT_EQ(state.surfacesLive, 0u);
    const uint64_t atRelease = state.vblanks;
    platform::sleepMs(50);
    EXPECT_EQ(vblanks(), atRelease);
}

}  // namespace
}  // namespace corva
