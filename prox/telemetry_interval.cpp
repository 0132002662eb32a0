#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>

namespace corva::prox {

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    arrivals_[count_++] = arrivalNs;
    if (count_ < kReports) return false;
    count_ = 0;
    // The lower convex hull of (report, arrival): its corners are reports read promptly.
    auto y = [&](size_t i) { return double(arrivals_[i] - arrivals_[0]); };
    auto turnsUp = [&](size_t o, size_t a, size_t b) {
        return double(a - o) * (y(b) - y(o)) - (y(a) - y(o)) * double(b - o) > 0.0;
    };
    std::array<size_t, kReports> hull{};
    size_t corners = 0;
    for (size_t i = 0; i < kReports; ++i) {
        while (corners >= 2 && !turnsUp(hull[corners - 2], hull[corners - 1], i)) --corners;
        hull[corners++] = i;
    }
    // The edge over the middle report: its slope is the interval.
    const double middle = double(kReports - 1) / 2.0;
    size_t edge = 0;
    while (edge + 2 < corners && double(hull[edge + 1]) < middle) ++edge;
    const size_t from = hull[edge];
    const size_t to = hull[edge + 1];
    measuredMs_ = (y(to) - y(from)) / double(to - from) / 1e6;
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
        // On the grid, the last off report is the one an interval before this one. Even a
        // report read promptly arrives a little after it was sent (the reader's wake-up).
        const int64_t lastOff = intervalNs_ > 0 && lastOffNs_ != 0 ? sentNs - intervalNs_ : lastOffNs_;
        edgeLastOffNs_ = lastOff != 0 ? lastOff - kQuickestDeliveryNs : 0;
        edgeFirstOnNs_ = sentNs;
    }
    if (!on) lastOffNs_ = sentNs;
    on_ = on;
    return rising;
}

}  // namespace corva::prox
