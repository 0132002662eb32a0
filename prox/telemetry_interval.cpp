#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>

namespace corva::prox {

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    if (count_ > kGaps) return false;  // measured already
    arrivals_[size_t(count_++)] = arrivalNs;
    if (count_ <= kGaps) return false;
    std::array<int64_t, kGaps> gaps{};
    for (size_t i = 0; i < gaps.size(); ++i) gaps[i] = arrivals_[i + 1] - arrivals_[i];
    std::nth_element(gaps.begin(), gaps.begin() + kGaps / 2, gaps.end());
    measuredMs_ = double(gaps[kGaps / 2]) / 1e6;
    return true;
}

bool intervalDiffers(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) > double(requestedMs) / 2.0;
}

bool DisplaysOnEdgeTracker::add(uint16_t dstat, int64_t arrivalNs) {
    const bool on = (dstat & 1) != 0;
    const bool rising = on && !on_;
    if (rising) {
        edgeLastOffNs_ = lastOffNs_;
        edgeFirstOnNs_ = arrivalNs;
    }
    if (!on) lastOffNs_ = arrivalNs;
    on_ = on;
    return rising;
}

}  // namespace corva::prox
