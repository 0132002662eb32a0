// What the machine grants the run's timing: the timer resolution in force (read back), a
// short sleep measured beside it, the power-throttling opt-outs in force, and whether the PC
// is kept awake for the run. Measured on Windows; elsewhere nothing is (unmeasured).
#pragma once

#include <cstdint>

namespace corva::platform {

struct MachineFigures {
    bool measured = false;
    double timerResolutionMs = 0.0;
    double shortSleepMs = 0.0;    // the median of a few 1 ms sleeps
    bool throttlingRead = false;  // the system told the process's power-throttling state
    bool timerOptOut = false;     // the process keeps its timer resolution when hidden
    bool speedOptOut = false;     // nor is it slowed down (execution speed)
    bool keptAwake = false;
    // The longest the run's 2 ms monitor stood still (a PC that slept, a suspended process):
    // seen on every platform.
    int64_t longestStandstillNs = 0;
};

// Once, at the end of the run (a few ms of sleeps), on the calling thread.
MachineFigures measureMachine(bool keptAwake);

}  // namespace corva::platform
