// The steps that bound one displays-on edge on the firmware's grid, in order: bridge the
// reports lost, find the run since the grid's last break, project the last off report's
// sending forward from the run, and the first on report's back from the reports after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "prox/displays_on_edge_tracker.h"

namespace corva::prox {

// The reports around one edge, oldest first: those the last off report is projected from,
// the last off report, the first on report and those read after it.
struct EdgeReports {
    static constexpr size_t kMax =
        DisplaysOnEdgeTracker::kProjectedReports + 2 + DisplaysOnEdgeTracker::kLaterReports;
    std::array<int64_t, kMax> arrival{};
    std::array<int64_t, kMax> slot{};      // each report's place on the firmware's grid
    std::array<bool, kMax> bridged{};      // reports lost somewhere just before this one
    std::array<int64_t, kMax> unplaced{};  // slots counted before the last off report that may
                                           // as well have been lost after it
    size_t count = 0;
    size_t lastOff = 0;      // the last off report; the first on report comes next
    size_t lastBridged = 0;  // the first report of the trusted segment after the last loss; 0: none
    int64_t intervalNs = 0;
    int64_t jitterNs = 0;  // the firmware's, measured before the edge
    // How far from the known phase a report may lie and still be on it: twice the jitter,
    // the quickest delivery and the crystal's drift over these reports.
    int64_t toleranceNs = 0;

    // The newest `reports` reports (`arrivalBack(0)` the newest), `lastOffIndex` the last off
    // one, each in a slot of its own.
    template <class ArrivalBack>
    EdgeReports(size_t reports, size_t lastOffIndex, int64_t interval, int64_t jitter,
                ArrivalBack arrivalBack);
    size_t firstOn() const { return lastOff + 1; }
    // A report's arrival less its place on the grid: the lowest is the promptest.
    int64_t residual(size_t i) const { return arrival[i] - slot[i] * intervalNs; }
    // A gap of one and a half intervals or more before report i.
    bool gapBefore(size_t i) const { return arrival[i] - arrival[i - 1] >= intervalNs + intervalNs / 2; }
    // Read report by report from `from` on, each at least half an interval after the one
    // before: not a burst read at once after a stalled reader.
    bool spacedFrom(size_t from) const;
    // Enough reports from `from` to the last off report, read one by one to the newest, that
    // one of them was read promptly: a stalled reader does not read several in a row late by
    // the same whole intervals.
    bool trusted(size_t from) const;
};

template <class ArrivalBack>
EdgeReports::EdgeReports(size_t reports, size_t lastOffIndex, int64_t interval, int64_t jitter,
                         ArrivalBack arrivalBack)
    : count(reports), lastOff(lastOffIndex), intervalNs(interval), jitterNs(jitter) {
    for (size_t i = 0; i < count; ++i) {
        arrival[i] = arrivalBack(count - 1 - i);
        slot[i] = int64_t(i);
    }
    // A crystal fast or slow moves the reports on the asked-for grid by up to this much.
    const int64_t driftNs = int64_t(count) * intervalNs * DisplaysOnEdgeTracker::kDriftPpm / 1000000;
    toleranceNs = 2 * jitterNs + DisplaysOnEdgeTracker::kQuickestDeliveryNs + driftNs;
}

// Places the reports after each loss of reports on the grid, in their slots after it.
void bridgeLosses(EdgeReports& reports);

// The first report of the run since the grid's last break, that the last off report is
// projected from.
size_t findRun(const EdgeReports& reports);

// No later than the last off report was sent (before the quickest delivery is allowed for):
// projected from the run's reports, or `beforeBurstNs` when the run was read in one burst.
int64_t lowerBound(const EdgeReports& reports, size_t runStart, int64_t beforeBurstNs);

// No earlier than the first on report was sent: its arrival, or projected back from the
// reports after it.
int64_t upperBound(const EdgeReports& reports, size_t runStart);

}  // namespace corva::prox
