// The wake's phases: where the time between a wake request and the displays coming on
// went, as far as the program can time it.
#pragma once

#include <cstdint>

#include "lines/line_fields.h"

namespace corva {

// Steady-clock stamps of one wake; 0 where a step was not taken (or not by this wake).
struct WakePhaseTimes {
    int64_t requestNs = 0;
    int64_t reactNs = 0;   // the wake acted on: parked wait left / wake command about to be sent
    int64_t modeNs = 0;    // mode-set call returned
    int64_t powerNs = 0;   // power-on call (doze: wake command) returned
    int64_t vblankNs = 0;  // first vertical blank after power-on
    int64_t onLoNs = 0;    // the last report that showed the displays off (see McuProx)
    int64_t onHiNs = 0;    // the first report that showed them on
};

// The fields of the WAKE_PHASES line: milliseconds from the request, one decimal; "-" for a
// step this wake did not take (a stamp before the request belongs to an earlier wake); the
// displays-on interval "LO..HI" with its bounds rounded outward, or "-".
struct WakePhaseFields {
    lines::OptionalMs react;
    lines::OptionalMs mode;
    lines::OptionalMs power;
    lines::OptionalMs vblank;
    lines::OptionalMsInterval on;
};

WakePhaseFields wakePhaseFields(const WakePhaseTimes& times);

}  // namespace corva
