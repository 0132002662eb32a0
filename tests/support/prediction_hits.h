// How many of a run's anchored frames reached the panel when the loop predicted, by the
// simulated display's own record of presents and vertical blanks.
#pragma once

#include "sim/driver/sim_display.h"

#include <cstdint>
#include <vector>

namespace corva::test {

struct PredictionHits {
    int anchored = 0;  // frames with a predicted display time that the panel showed
    int hits = 0;      // of those, shown by the vertical blank within one period before it
};

// displayTimes[i] is the prediction the loop gave frame i (0: none), in present order.
PredictionHits predictionHits(const sim::Timeline& timeline, const std::vector<int64_t>& displayTimes,
                              int64_t periodNs);

}  // namespace corva::test
