// A scenario played on the simulated display: its start configuration as the presenter
// meets it, its events, and the timeline's timing.
#include "nvapi/nvapi.h"
#include "tests/support/sample_lines.h"
#include "platform/platform.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "sim/headset/scenario.h"
#include "sim/headset/scenario_dispatch.h"
#include "sim/headset/scenario_runner.h"
#include "sim/driver/sim_display.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corva {
namespace {

sim::Scenario parsed(const std::string& text) {
    const sim::ScenarioParse result = sim::parseScenario(text);
    EXPECT_TRUE(result.ok) << result.error;
    return result.scenario;
}

class ScenarioOnDisplay : public ::testing::Test {
  protected:
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }
    bool init() {
        presenter = std::make_unique<NvapiD3d12Presenter>(PresenterConfig{});
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const bool ok = presenter->init();
        err = ::testing::internal::GetCapturedStderr();
        out = ::testing::internal::GetCapturedStdout();
        return ok;
    }
    NvStatus present() {
        PresenterImpl& im = *presenter->im;
        return Present12(&im.display, im.surf[0], 1, im.queue.Get(), im.list.Get());
    }

    test::SimDriverSandbox sandbox;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
    std::string out, err;
};

TEST_F(ScenarioOnDisplay, NoDisplayLeavesTheDriverWithoutDirectModeDisplay) {
    sim::applyDisplayStart(parsed("no-display"));
    EXPECT_FALSE(init());
    EXPECT_NE(err.find(test::printed(lines::kNoDisplay)), std::string::npos) << err;
}

TEST_F(ScenarioOnDisplay, AcquisitionFailuresThenStatusAndPresentFailures) {
    sim::applyDisplayStart(parsed("acquire-fail 1 -5; acquire-status -208; present-fail 2"));
    ASSERT_TRUE(init()) << err;
    EXPECT_NE(out.find(test::printed(lines::kAcquire, 0xfffffffbu, "") +
                       test::printed(lines::kAcquire, 0xffffff30u, lines::kHdcpDisabled)),
              std::string::npos)
        << out;
    EXPECT_NE(present(), kNvOk);
    EXPECT_NE(present(), kNvOk);
    EXPECT_EQ(present(), kNvOk);
}

// The one small mode offered replaces the requested one, and the surfaces take its size.
TEST_F(ScenarioOnDisplay, ASmallModeIsTheOnlyOneOffered) {
    sim::applyDisplayStart(parsed("mode 1280x640"));
    ASSERT_TRUE(init()) << err;
    EXPECT_EQ(test::countOf(out, "mode["), 1u) << out;
    EXPECT_NE(out.find("using mode 1280x640 @ 75.000 Hz format=22\n"), std::string::npos) << out;
    EXPECT_NE(out.find("surface: 1280x640 "), std::string::npos) << out;
}

TEST_F(ScenarioOnDisplay, ADefaultScenarioUndoesAnEarlierOne) {
    sim::applyDisplayStart(parsed("no-display; acquire-fail 3; mode 64x32"));
    sim::applyDisplayStart(parsed(""));
    ASSERT_TRUE(init()) << err;
    EXPECT_NE(out.find(test::printed(lines::kAcquire, 0u, "")), std::string::npos) << out;
    EXPECT_NE(out.find("using mode 5088x2544 @ 75.000 Hz"), std::string::npos) << out;
}

TEST(ScenarioEvents, EveryEventReachesItsOwnPartAndAbsentPartsAreNamedOnce) {
    const sim::Scenario scenario = parsed(
        "at 0 doff; at 0 unplug; at 0 vblank-lost; at 0 replug; at 0 unplug; at 0 silence; at 0 talk; "
        "at 0 don; at 0 waitable-dead; at 0 device-removed; at 0 present-fail 1; at 0 vblank-restored");
    std::vector<std::pair<sim::EventTarget, sim::ScenarioEvent>> seen;
    sim::ScenarioDispatcher all;
    for (sim::EventTarget target :
         {sim::EventTarget::Display, sim::EventTarget::Microcontroller, sim::EventTarget::Wearer})
        all.plug(target, [&seen, target](const sim::TimedEvent& e) { seen.emplace_back(target, e.event); });
    for (const sim::TimedEvent& e : scenario.timeline) all.dispatch(e);
    ASSERT_EQ(seen.size(), scenario.timeline.size());
    for (const auto& [target, event] : seen)
        EXPECT_EQ(target, sim::targetOf(event)) << sim::scenarioEventName(event);
    EXPECT_EQ(all.ignoredEvents(scenario.timeline), "");

    sim::ScenarioDispatcher displayOnly;
    displayOnly.plug(sim::EventTarget::Display, [](const sim::TimedEvent&) {});
    EXPECT_EQ(displayOnly.ignoredEvents(scenario.timeline), "doff, unplug, replug, silence, talk, don");
}

TEST(ScenarioEvents, TheDisplaysVerticalBlankIsLostWhileTheScenarioOrTheWearerSaysSo) {
    sim::resetDisplay();
    sim::ScenarioDisplay display;
    auto event = [&display](sim::ScenarioEvent kind) {
        sim::TimedEvent e;
        e.event = kind;
        display.handle(e);
        return sim::displayState();
    };
    EXPECT_TRUE(event(sim::ScenarioEvent::VblankLost).vblankLost);
    display.setWearBlanked(true);
    EXPECT_TRUE(event(sim::ScenarioEvent::VblankRestored).vblankLost);
    display.setWearBlanked(false);
    EXPECT_FALSE(sim::displayState().vblankLost);
    EXPECT_FALSE(event(sim::ScenarioEvent::Doff).vblankLost);  // not the display's
    EXPECT_TRUE(event(sim::ScenarioEvent::WaitableDead).waitableDead);
    EXPECT_TRUE(event(sim::ScenarioEvent::DeviceRemoved).deviceRemoved);
    sim::resetDisplay();
}

struct Delivery {
    sim::ScenarioEvent event;
    int64_t timeNs;
};

class Recorder {
  public:
    sim::TimelinePlayer::Handler handler() {
        return [this](const sim::TimedEvent& e) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({e.event, platform::steadyNowNs()});
        };
    }
    std::vector<Delivery> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

  private:
    std::mutex mutex_;
    std::vector<Delivery> seen_;
};

TEST(TimelinePlayer, DeliversEveryEventInOrderNoSoonerThanItsTime) {
    const sim::Scenario scenario =
        parsed("at 0.15 device-removed; at 0 vblank-lost; at 0.05 vblank-restored");
    Recorder recorder;
    sim::TimelinePlayer player;
    const int64_t start = platform::steadyNowNs();
    player.start(scenario.timeline, start, recorder.handler());
    platform::sleepMs(600);
    player.stop();

    const std::vector<Delivery> seen = recorder.seen();
    ASSERT_EQ(seen.size(), 3u);
    const sim::ScenarioEvent order[] = {sim::ScenarioEvent::VblankLost, sim::ScenarioEvent::VblankRestored,
                                        sim::ScenarioEvent::DeviceRemoved};
    const int64_t due[] = {0, 50'000'000, 150'000'000};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].event, order[i]) << i;
        EXPECT_GE(seen[i].timeNs - start, due[i]) << i;
    }
}

TEST(TimelinePlayer, StopEndsTheWaitAtOnceAndDeliversNothingMore) {
    const sim::Scenario scenario = parsed("at 0 waitable-dead; at 30 device-removed");
    Recorder recorder;
    sim::TimelinePlayer player;
    player.start(scenario.timeline, platform::steadyNowNs(), recorder.handler());
    for (int i = 0; i < 200 && recorder.seen().empty(); ++i) platform::sleepMs(5);
    const int64_t stopAt = platform::steadyNowNs();
    player.stop();
    EXPECT_LT(platform::steadyNowNs() - stopAt, 2'000'000'000);  // not the 30 s of the next event
    ASSERT_EQ(recorder.seen().size(), 1u);
    EXPECT_EQ(recorder.seen()[0].event, sim::ScenarioEvent::WaitableDead);
}

}  // namespace
}  // namespace corva
