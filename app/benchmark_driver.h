// The benchmark driver: parks or dozes the displays and wakes them, cycle by cycle,
// marking every step. Everything it reads, waits on and commands comes through the seams
// below, so its logic runs the same on the real clock and link and on a test's virtual ones.
#pragma once

#include "app/shared_state.h"
#include "lines/run_figures.h"
#include "present/park_control.h"

#include <cstdint>

namespace corva {

// Time as the driver sees it: a sleep is its only way to let time pass.
class BenchClock {
  public:
    virtual ~BenchClock() = default;
    virtual int64_t nowNs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
};

// What the driver reads of the proximity link, and the one command it sends.
class BenchLink {
  public:
    virtual ~BenchLink() = default;
    virtual uint16_t dstat() const = 0;
    virtual int64_t lastReportNs() const = 0;
    virtual uint32_t linkLosses() const = 0;
    virtual bool deviceGone() const = 0;
    virtual bool setDoze(bool doze) = 0;
};

// The run-wide state the driver shares with the stop handler, the display-status monitor
// and the present loop.
struct BenchShared {
    std::atomic<bool>& stop;
    std::atomic<WakeVerdict>& verdict;    // decided by the monitor
    std::atomic<int64_t>& wakeRequestNs;  // taken by the monitor when the displays come on
    WakeStamps& wakeStamps;
};

struct BenchSeams {
    BenchClock& clock;
    BenchLink& link;
    bool proxUp;  // the link was up at start; without it fixed waits stand in for the telemetry
    ParkControl& presenter;
    BenchShared shared;
};

struct BenchPlan {
    int32_t cycles = 3;
    double activeSeconds = 2.0;
    double holdSeconds = 3.0;
    bool doze = false;
};

// Fixed waits and limits of the driver.
// Without the link, the wait that stands in for the displays coming on.
constexpr double kNoLinkDisplaysOnSeconds = run::kFixedDisplaysOnWaitMs / 1000.0;
// How long an abandoned cycle waits for the proximity link to come back: one reconnect
// attempt (every two seconds plus the probe) with room to spare.
constexpr double kLinkReturnSeconds = 5.0;
// How long a doze waits for the displays to go off: the firmware may not doze at all (its
// version query said so, but the command is sent regardless).
constexpr double kDozeOffWaitSeconds = 3.0;

// Runs the plan's cycles, then prints BENCH_INCOMPLETE if they were not all completed, asks
// the presenter to stop and raises the stop flag.
void runBenchmark(const BenchSeams& seams, const BenchPlan& plan);

}  // namespace corva
