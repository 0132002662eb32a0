#include "sim/headset/scenario_dispatch.h"

#include "sim/driver/sim_display.h"

namespace corva::sim {

void ScenarioDispatcher::plug(EventTarget target, Handler handler) {
    handlers_[static_cast<size_t>(target)] = std::move(handler);
}

void ScenarioDispatcher::dispatch(const TimedEvent& event) const {
    if (const Handler& handler = handlers_[static_cast<size_t>(targetOf(event.event))]) handler(event);
}

std::string ScenarioDispatcher::ignoredEvents(const std::vector<TimedEvent>& timeline) const {
    std::string names;
    for (const TimedEvent& event : timeline) {
        if (handlers_[static_cast<size_t>(targetOf(event.event))]) continue;
        const std::string name = scenarioEventName(event.event);
        if ((", " + names + ", ").find(", " + name + ", ") != std::string::npos) continue;
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

void ScenarioDispatcher::play(TimelinePlayer& player, const std::vector<TimedEvent>& timeline,
                              int64_t startNs, const lines::SimulatorVoice& who) const {
    if (const std::string ignored = ignoredEvents(timeline); !ignored.empty())
        lines::printSimulatorLine(who.eventsIgnored, ignored.c_str());
    if (timeline.empty()) return;
    player.start(timeline, startNs, [routes = *this](const TimedEvent& event) { routes.dispatch(event); });
}

void ScenarioDisplay::handle(const TimedEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (event.event) {
        case ScenarioEvent::VblankLost:
        case ScenarioEvent::VblankRestored:
            scenarioVblankLost_ = event.event == ScenarioEvent::VblankLost;
            applyVblankLocked();
            return;
        case ScenarioEvent::WaitableDead:
            setWaitableDead(true);
            return;
        case ScenarioEvent::DeviceRemoved:
            setDeviceRemoved(true);
            return;
        case ScenarioEvent::PresentFail:
            failPresents(static_cast<uint32_t>(event.count));
            return;
        default:
            return;
    }
}

void ScenarioDisplay::setWearBlanked(bool blanked) {
    std::lock_guard<std::mutex> lock(mutex_);
    wearBlanked_ = blanked;
    applyVblankLocked();
}

void ScenarioDisplay::applyVblankLocked() {
    setVblankLost(scenarioVblankLost_ || wearBlanked_);
}

}  // namespace corva::sim
