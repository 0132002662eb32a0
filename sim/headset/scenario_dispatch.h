// The one place scenario events are routed: each event acts on one part of the simulated
// headset, and whoever hosts a part plugs in its handler. tessaray-sim hosts them all; the
// stand-in nvapi64.dll only the display, so it reports the events nothing there acts on.
#pragma once

#include "sim/headset/scenario.h"
#include "sim/headset/scenario_runner.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace corva::sim {

class ScenarioDispatcher {
  public:
    using Handler = std::function<void(const TimedEvent& event)>;

    void plug(EventTarget target, Handler handler);
    // Hands the event to its part's handler; nothing happens when the part is absent.
    void dispatch(const TimedEvent& event) const;
    // The distinct events of `timeline` whose part is absent, in order ("unplug, doff");
    // empty when every event has a handler.
    std::string ignoredEvents(const std::vector<TimedEvent>& timeline) const;
    // Plays `timeline` from `startNs` through this dispatcher on `player`, after saying once on
    // standard error, prefixed by `who`, which of its events are ignored.
    void play(TimelinePlayer& player, const std::vector<TimedEvent>& timeline, int64_t startNs,
              const lines::SimulatorVoice& who) const;

  private:
    std::array<Handler, kEventTargets> handlers_;
};

// The display's part: the simulated driver's display faults. Its vertical blank is lost
// while the scenario says so or while the headset blanks its panels (taken off without the
// proximity bypass).
class ScenarioDisplay {
  public:
    void handle(const TimedEvent& event);  // the display's events; others are ignored
    void setWearBlanked(bool blanked);

  private:
    void applyVblankLocked();

    std::mutex mutex_;
    bool scenarioVblankLost_ = false;
    bool wearBlanked_ = false;
};

}  // namespace corva::sim
