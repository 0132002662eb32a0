// How the simulated microcontroller's firmware keeps its telemetry timer: the behaviours a
// real one may show (all off by default: one unbroken grid, each report read at once).
#pragma once

#include <cstdint>

namespace corva::sim {

struct FirmwareBehaviour {
    // The telemetry timer starts afresh (the next report one interval on) after a doze
    // command, a wake command, or any command. After a silence it always does.
    bool restartOnDoze = false;
    bool restartOnWake = false;
    bool restartOnCommand = false;
    double jitterMs = 0.0;  // each report is sent up to this long after its timer
    uint32_t pollMs = 0;    // the host polls the endpoint every this many ms: a report goes at the next poll
    int32_t driftPpm = 0;   // the crystal runs this much fast (negative: slow) against the PC's clock
    double lossPercent = 0.0;  // reports lost on the way (a missed poll); the next one carries the change
    uint32_t seed = 1;         // of the jitter and the losses

    bool any() const {
        return restartOnDoze || restartOnWake || restartOnCommand || jitterMs > 0 || pollMs > 0 ||
               driftPpm != 0 || lossPercent > 0;
    }
};

}  // namespace corva::sim
