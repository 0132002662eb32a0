// Plays a scenario (sim/headset/scenario.h) on the simulated driver's display: its start
// configuration, then its timeline of events at their times.
#pragma once

#include "sim/headset/scenario.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corva::sim {

// Sets the simulated display up for the scenario's start: a fresh default headset, with no
// display attached, acquisition statuses and present failures as the scenario says. The
// microcontroller's part of the scenario (no-mcu, away) is not the display's and is left alone.
void applyDisplayStart(const Scenario& scenario);

// Hands each event of a timeline, in order, to a handler at its time, on a thread of its own.
class TimelinePlayer {
  public:
    using Handler = std::function<void(const TimedEvent&)>;

    TimelinePlayer() = default;
    ~TimelinePlayer() { stop(); }
    TimelinePlayer(const TimelinePlayer&) = delete;
    TimelinePlayer& operator=(const TimelinePlayer&) = delete;

    // Event e is handed over at startNs + e.atSeconds (steady clock); events already due go
    // at once. A running timeline is stopped first.
    void start(std::vector<TimedEvent> timeline, int64_t startNs, Handler handler);
    // Stops and joins the thread; no event is handed over after it returns.
    void stop();

  private:
    void run(std::vector<TimedEvent> timeline, int64_t startNs, Handler handler);

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace corva::sim
