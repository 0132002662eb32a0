// What the present loop measured of the conditions the wake figures rest on: the gaps of
// its parked poll and the display's own vertical blank. Filled by the loop as it ends.
#pragma once

#include "platform/poll_gaps.h"
#include "present/vblank_meter.h"

namespace corva {

struct PresentConditions {
    PollGaps parkedPolls;
    VblankMeter vblank{0.0};
};

}  // namespace corva
