#include "prox/displays_on_edge_tracker.h"

#include <algorithm>
#include <cstdlib>

#include "prox/edge_grid_bounds.h"

namespace corva::prox {

int64_t DisplaysOnEdgeTracker::arrivalBack(size_t back) const {
    return arrivals_[(recent_ - 1 - back) % kRecentReports];
}

int64_t DisplaysOnEdgeTracker::jitterNs(size_t reports) const {
    // How far each gap between two arrivals lies from a whole number of intervals: a
    // restart, a lost report or one late read moves one or two of them, jitter moves most.
    std::array<int64_t, kJitterReports> offGrid{};
    const size_t counted = std::min(reports, kJitterReports + 1);
    if (counted < 4) return 0;
    for (size_t back = 0; back + 1 < counted; ++back) {
        const int64_t gap = arrivalBack(back) - arrivalBack(back + 1);
        const int64_t intervals = std::max<int64_t>(1, (gap + intervalNs_ / 2) / intervalNs_);
        offGrid[back] = std::abs(gap - intervals * intervalNs_);
    }
    std::sort(offGrid.begin(), offGrid.begin() + ptrdiff_t(counted - 1));
    // The median distance of the difference of two jitters spread evenly over J is about
    // J / 3.4: four times it covers J.
    return 4 * offGrid[(counted - 1) / 2];
}

void DisplaysOnEdgeTracker::gridBounds() {
    // Oldest first: the projected reports, the last off report, the first on report and
    // those after it.
    const size_t fromFirstOn = later_ + 1;
    const size_t count = std::min(recent_, projectedReports(intervalNs_) + 1 + fromFirstOn);
    EdgeReports reports(count, count - 1 - fromFirstOn, intervalNs_, edgeJitterNs_,
                        [this](size_t back) { return arrivalBack(back); });
    bridgeLosses(reports);
    const size_t runStart = findRun(reports);
    // Even a report read promptly arrives a little after it was sent (the reader's wake-up):
    // the lower bound is taken that much earlier.
    edgeLastOffNs_ = lowerBound(reports, runStart, arrivalBeforeBurstNs(later_)) - kQuickestDeliveryNs;
    edgeFirstOnNs_ = upperBound(reports, runStart);
}

int64_t DisplaysOnEdgeTracker::arrivalBeforeBurstNs(size_t onBack) const {
    // A report read within half an interval of the one before it waited in the queue: the
    // reader had stalled, and the first report of such a burst is the latest of all. When
    // the off report is in one (or starts one the on report is in), the report before the
    // burst bounds it.
    const size_t available = std::min(recent_, kRecentReports);
    auto queued = [&](size_t back) {
        return back + 1 < available && arrivalBack(back) - arrivalBack(back + 1) < askedNs_ / 2;
    };
    const size_t offBack = onBack + 1;
    if (!queued(onBack) && !queued(offBack)) return arrivalBack(offBack);
    size_t first = offBack;
    while (queued(first)) ++first;
    return arrivalBack(first + 1 < available ? first + 1 : first);
}

bool DisplaysOnEdgeTracker::add(uint16_t dstat, int64_t arrivalNs) {
    arrivals_[recent_ % kRecentReports] = arrivalNs;
    ++recent_;
    const bool on = (dstat & 1) != 0;
    const bool rising = on && !on_ && recent_ >= 2;
    on_ = on;
    if (rising) {
        if (intervalNs_ > 0) {
            later_ = 0;
            edgeJitterNs_ = jitterNs(std::min(recent_, kRecentReports) - 1);
            gridBounds();
        } else {
            // Even a report read promptly arrives a little after it was sent.
            later_ = kLaterReports;
            edgeJitterNs_ = 0;
            edgeLastOffNs_ = arrivalBeforeBurstNs(1) - kQuickestDeliveryNs;
            edgeFirstOnNs_ = arrivalNs;
        }
    } else if (later_ < kLaterReports) {
        ++later_;
        gridBounds();
    }
    return rising;
}

}  // namespace corva::prox
