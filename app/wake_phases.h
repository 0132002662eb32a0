// The wake's phases: where the time between a wake request and the displays coming on
// went, as far as the program can time it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva {

// Steady-clock stamps of one wake; 0 where a step was not taken (or not by this wake).
struct WakePhaseTimes {
    int64_t requestNs = 0;
    int64_t reactNs = 0;   // the wake acted on: parked wait left / wake command about to be sent
    int64_t modeNs = 0;    // mode-set call returned
    int64_t powerNs = 0;   // power-on call (doze: wake command) returned
    int64_t vblankNs = 0;  // first vertical blank after power-on
    int64_t onLoNs = 0;    // arrival of the last report that showed the displays off
    int64_t onHiNs = 0;    // arrival of the first report that showed them on
};

// "WAKE_PHASES react=R mode=M power=P vblank=V on=LO..HI ms\n": milliseconds from the
// request, one decimal; "-" for a step this wake did not take (a stamp before the request
// belongs to an earlier wake). Returns the length written (truncated to `size`).
size_t formatWakePhases(char* out, size_t size, const WakePhaseTimes& times);

}  // namespace corva
