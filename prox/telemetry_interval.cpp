#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

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

int64_t DisplaysOnEdgeTracker::arrivalBack(size_t back) const {
    return arrivals_[(recent_ - 1 - back) % kRecentReports];
}

int64_t DisplaysOnEdgeTracker::jitterNs(size_t reports) const {
    // How far each gap between two arrivals lies from a whole number of intervals: a
    // restart, a lost report or one late read moves one or two of them, jitter moves most.
    std::array<int64_t, kJitterReports> off{};
    const size_t n = std::min(reports, kJitterReports + 1);
    if (n < 4) return 0;
    for (size_t back = 0; back + 1 < n; ++back) {
        const int64_t gap = arrivalBack(back) - arrivalBack(back + 1);
        const int64_t intervals = std::max<int64_t>(1, (gap + intervalNs_ / 2) / intervalNs_);
        off[back] = std::abs(gap - intervals * intervalNs_);
    }
    std::sort(off.begin(), off.begin() + ptrdiff_t(n - 1));
    // The median distance of the difference of two jitters spread evenly over J is about
    // J / 3.4: four times it covers J.
    return 4 * off[(n - 1) / 2];
}

int64_t DisplaysOnEdgeTracker::lastOffBoundNs(int64_t jitterNs) const {
    const size_t n = std::min(recent_, kProjectedReports + 2);  // the window, the off and the on report
    // Each report's arrival less its place on the grid, oldest first (the off report is n - 2).
    std::array<int64_t, kProjectedReports + 2> residual{};
    for (size_t i = 0; i < n; ++i) residual[i] = arrivalBack(n - 1 - i) - int64_t(i) * intervalNs_;
    // A restarted timer, a pause or a lost report puts every later report later on the old
    // grid; one late read puts only itself there. The run since the last such break: its
    // earliest report, and every later one up to the newest, lies later than every report
    // before it by more than the jitter.
    const int64_t tolerance = 2 * jitterNs + kQuickestDeliveryNs;
    size_t runStart = 0;
    int64_t after = residual[n - 1];
    for (size_t k = n - 1; k-- > 1;) {
        after = std::min(after, residual[k]);
        if (k > n - 2) continue;
        const int64_t before = *std::min_element(residual.begin(), residual.begin() + ptrdiff_t(k));
        if (after > before + tolerance) {
            // A break just before the edge may as well be a stalled reader that read the
            // last reports late: projected from before it, the bound is earlier, never wrong.
            // So may a burst of reports read together after a stall: the run must be read
            // report by report, each at least half an interval after the one before.
            bool spaced = n - 2 - k >= kRunReports;
            for (size_t i = k + 1; spaced && i < n; ++i)
                spaced = arrivalBack(n - 1 - i) - arrivalBack(n - i) >= intervalNs_ / 2;
            if (spaced) runStart = k;
            break;
        }
    }
    // Projected forward from each report of the run (drift allowed for): the earliest such
    // projection lies within the quickest delivery and the least jitter of the run.
    const int64_t stepNs = intervalNs_ - intervalNs_ * kDriftPpm / 1000000;
    int64_t bound = arrivalBack(1);
    for (size_t i = runStart; i + 2 < n; ++i)
        bound = std::min(bound, arrivalBack(n - 1 - i) + int64_t(n - 2 - i) * stepNs - jitterNs / 4);
    return bound;
}

int64_t DisplaysOnEdgeTracker::arrivalBeforeBurstNs() const {
    // A report read within half an interval of the one before it waited in the queue: the
    // reader had stalled, and the first report of such a burst is the latest of all. When
    // the off report is in one (or starts one the on report is in), the report before the
    // burst bounds it.
    const size_t n = std::min(recent_, kRecentReports);
    auto queued = [&](size_t back) {
        return back + 1 < n && arrivalBack(back) - arrivalBack(back + 1) < askedNs_ / 2;
    };
    if (!queued(0) && !queued(1)) return arrivalBack(1);
    size_t first = 1;
    while (queued(first)) ++first;
    return arrivalBack(first + 1 < n ? first + 1 : first);
}

bool DisplaysOnEdgeTracker::add(uint16_t dstat, int64_t arrivalNs) {
    arrivals_[recent_ % kRecentReports] = arrivalNs;
    ++recent_;
    const bool on = (dstat & 1) != 0;
    const bool rising = on && !on_ && recent_ >= 2;
    if (rising) {
        // Even a report read promptly arrives a little after it was sent (the reader's
        // wake-up): the lower bound is taken that much earlier.
        const bool grid = intervalNs_ > 0;
        edgeJitterNs_ = grid ? jitterNs(std::min(recent_, kRecentReports) - 1) : 0;
        const int64_t lastOff = grid ? lastOffBoundNs(edgeJitterNs_) : arrivalBeforeBurstNs();
        edgeLastOffNs_ = lastOff - kQuickestDeliveryNs;
        edgeFirstOnNs_ = arrivalNs;
    }
    on_ = on;
    return rising;
}

}  // namespace corva::prox
