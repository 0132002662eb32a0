#include "sim/headset/scenario_runner.h"

#include "platform/platform.h"
#include "sim/driver/sim_display.h"

#include <chrono>
#include <cmath>
#include <utility>

namespace corva::sim {

void applyDisplayStart(const Scenario& scenario) {
    DisplayConfig config = defaultHeadset();
    if (scenario.noDisplay) config.displays.clear();
    if (scenario.modeWidth != 0)
        config.modes = {makeMode(scenario.modeWidth, scenario.modeHeight, 75000, 1000, 22)};
    config.vblankOffPpm = scenario.vblankOffPpm;
    config.vblankMissEvery = uint32_t(scenario.vblankMissEvery);
    resetDisplay(config);

    // The first acquisitions fail, then every one answers the scenario's status (0 unless set).
    StatusScript acquisition;
    acquisition.first.assign(static_cast<size_t>(scenario.acquireFailures), scenario.acquireFailureStatus);
    acquisition.then = scenario.acquireStatusSet ? scenario.acquireStatus : kNvOk;
    if (!acquisition.first.empty() || acquisition.then != kNvOk)
        setStatusScript(NvInterfaceId::AcquireDirectModeDisplay, acquisition);

    if (scenario.presentFailures > 0) failPresents(static_cast<uint32_t>(scenario.presentFailures));
}

void TimelinePlayer::start(std::vector<TimedEvent> timeline, int64_t startNs, Handler handler) {
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ =
        std::thread([this, timeline = std::move(timeline), startNs, handler = std::move(handler)]() mutable {
            run(std::move(timeline), startNs, std::move(handler));
        });
}

void TimelinePlayer::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TimelinePlayer::run(std::vector<TimedEvent> timeline, int64_t startNs, Handler handler) {
    for (const TimedEvent& event : timeline) {
        const int64_t dueNs = startNs + static_cast<int64_t>(std::llround(event.atSeconds * 1e9));
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (stopping_) return;
            const int64_t remainingNs = dueNs - platform::steadyNowNs();
            if (remainingNs <= 0) break;
            wake_.wait_for(lock, std::chrono::nanoseconds(remainingNs));
        }
        lock.unlock();
        handler(event);
    }
}

}  // namespace corva::sim
