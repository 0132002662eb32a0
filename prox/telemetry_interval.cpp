#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>

namespace corva::prox {

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    arrivals_[count_++] = arrivalNs;
    if (count_ < kReports) return false;
    double best = 0.0;
    for (size_t i = 0; i + kMinSpan < kReports; ++i) {
        double least = -1.0;
        for (size_t j = i + kMinSpan; j < kReports; ++j) {
            const double average = double(arrivals_[j] - arrivals_[i]) / double(j - i);
            if (least < 0.0 || average < least) least = average;
        }
        best = std::max(best, least);
    }
    measuredMs_ = best / 1e6;
    count_ = 0;
    return true;
}

bool intervalDiffers(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) > double(requestedMs) / 2.0;
}

bool intervalKept(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) <= double(requestedMs) / 10.0;
}

int64_t DisplaysOnEdgeTracker::sentBoundNs() const {
    const size_t newest = (recent_ - 1) % kRecentReports;
    int64_t bound = arrivals_[newest];
    if (intervalNs_ <= 0) return bound;
    const size_t n = std::min(recent_, kRecentReports);
    for (size_t back = 1; back < n; ++back) {
        const int64_t earlier = arrivals_[(newest + kRecentReports - back) % kRecentReports];
        bound = std::min(bound, earlier + int64_t(back) * intervalNs_);
    }
    return bound;
}

bool DisplaysOnEdgeTracker::add(uint16_t dstat, int64_t arrivalNs) {
    arrivals_[recent_ % kRecentReports] = arrivalNs;
    ++recent_;
    const int64_t sentNs = sentBoundNs();
    const bool on = (dstat & 1) != 0;
    const bool rising = on && !on_;
    if (rising) {
        // On the grid, the last off report is the one an interval before this one.
        edgeLastOffNs_ = intervalNs_ > 0 && lastOffNs_ != 0 ? sentNs - intervalNs_ : lastOffNs_;
        edgeFirstOnNs_ = sentNs;
    }
    if (!on) lastOffNs_ = sentNs;
    on_ = on;
    return rising;
}

}  // namespace corva::prox
