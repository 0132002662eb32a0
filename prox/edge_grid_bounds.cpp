#include "prox/edge_grid_bounds.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "prox/lower_hull.h"

namespace corva::prox {

namespace {

constexpr size_t kRunReports = DisplaysOnEdgeTracker::kRunReports;

// One interval on a crystal that runs as fast as allowed for.
int64_t fastStepNs(int64_t intervalNs) {
    return intervalNs - intervalNs * DisplaysOnEdgeTracker::kDriftPpm / 1000000;
}

// The reports between two gaps of one and a half intervals or more.
struct Segment {
    size_t first = 0;
    size_t end = 0;                  // one past its last report
    bool enough = false;             // enough reports, read one by one, that one was read promptly
    int64_t promptest = 0;           // the least residual of its reports
    int64_t promptestToLastOff = 0;  // of those before the last off report (INT64_MAX: none)
};

Segment segmentFrom(const EdgeReports& reports, size_t first) {
    Segment segment;
    segment.first = first;
    segment.end = first + 1;
    while (segment.end < reports.count && !reports.gapBefore(segment.end)) ++segment.end;
    segment.enough = segment.end - first >= kRunReports + 2;
    segment.promptest = reports.residual(first);
    segment.promptestToLastOff = reports.lastOff > first ? reports.residual(first) : INT64_MAX;
    for (size_t i = first + 1; i < segment.end; ++i) {
        segment.promptest = std::min(segment.promptest, reports.residual(i));
        if (i < reports.lastOff)
            segment.promptestToLastOff = std::min(segment.promptestToLastOff, reports.residual(i));
        segment.enough =
            segment.enough && reports.arrival[i] - reports.arrival[i - 1] >= reports.intervalNs / 2;
    }
    return segment;
}

// `lost` reports lost somewhere between report `unsure` (the first not yet placed on the grid)
// and the segment `after`: the reports from `unsure` on move that many slots on.
void bridgeLoss(EdgeReports& reports, size_t unsure, const Segment& after, int64_t lost) {
    for (size_t i = unsure; i < reports.count; ++i) reports.slot[i] += lost;
    // Slots counted before the last off report that may as well have been lost after it. The
    // loss is placed by the segment's promptest report, and a report read late by whole
    // intervals before that one hides a gap after it (the off report read late, reports lost
    // between it and the on report look like reports lost before it). Placed before the off
    // report when a report of the segment before it lies on the segment's phase; not when the
    // segment starts with the off report or after it. Such slots are not counted between a
    // report before the loss and the off report; between two reports after it, counted or
    // not, they cancel.
    if (unsure <= reports.lastOff &&
        (reports.lastOff < after.first || after.promptestToLastOff - after.promptest > reports.toleranceNs))
        for (size_t i = unsure; i < reports.count; ++i) reports.unplaced[i] += lost;
    reports.bridged[unsure] = true;
    reports.lastBridged = after.first;
}

// The least send delay of the run's reports, which the projection from them may take off:
// the fewer they are, the more of the jitter it may still be. Each is somewhere in it, so all
// m of them lie in its top share x only with odds (1 - x)^m; kept at 1 in 10,000.
int64_t leastSendDelayNs(const EdgeReports& reports, size_t runStart) {
    // The send delays spread over no more than the measured jitter, nor more than the run's
    // reports spread about the grid (a poll's holds spread over its period, which the jitter
    // measured from the gaps overstates; read delays only add to the spread).
    int64_t lowest = reports.residual(reports.lastOff);
    int64_t highest = reports.residual(reports.lastOff);
    for (size_t i = runStart; i < reports.lastOff; ++i) {
        lowest = std::min(lowest, reports.residual(i));
        highest = std::max(highest, reports.residual(i));
    }
    const double spread = double(std::min(reports.jitterNs, highest - lowest));
    const double runReports = double(std::max<size_t>(1, reports.lastOff - runStart));
    return int64_t(spread * (1.0 - std::pow(1e-4, 1.0 / runReports)));
}

// Every report of the run read in a burst after a stalled reader: none of them read promptly.
bool readInBurst(const EdgeReports& reports, size_t runStart) {
    for (size_t i = std::max<size_t>(runStart, 1); i < reports.lastOff; ++i)
        if (reports.arrival[i] - reports.arrival[i - 1] >= reports.intervalNs / 2) return false;
    return true;
}

// How high each report lies above the lower hull of the arrivals on the grid.
void heightsAboveHull(const int64_t* slot, const int64_t* arrival, size_t count, int64_t* height) {
    std::array<size_t, EdgeReports::kMax> hull{};
    const size_t corners = lowerHull(slot, arrival, count, hull.data());
    size_t edge = 0;
    for (size_t i = 0; i < count; ++i) {
        while (edge + 2 < corners && hull[edge + 1] <= i) ++edge;
        const size_t from = hull[edge];
        const size_t to = hull[std::min(edge + 1, corners - 1)];
        const double slope =
            to == from ? 0.0 : double(arrival[to] - arrival[from]) / double(slot[to] - slot[from]);
        height[i] = arrival[i] - arrival[from] - int64_t(slope * double(slot[i] - slot[from]));
    }
}

// How late the firmware sends a report after its timer, at most (jitter, a poll hold): the
// reports' heights above the lower hull of their arrivals on the grid spread over it, read
// delays only add to them. The highest but that of report `bounded` (whose own delay is in
// question: its read may have been late), widened for the top of the spread that the reports
// may not have reached (all m of them below the share y of it only with odds y^m, kept at 1
// in 10,000), and one host frame (1 ms) for a poll that this report waited for and none
// before it did (a timer that sits just before a poll, and a little jitter); -1 when too
// few reports tell it.
int64_t sendDelayBoundNs(const int64_t* slot, const int64_t* arrival, size_t count, size_t bounded) {
    if (count < 12 || count > EdgeReports::kMax) return -1;
    std::array<int64_t, EdgeReports::kMax> height{};
    heightsAboveHull(slot, arrival, count, height.data());
    height[bounded] = 0;
    const int64_t highest = *std::max_element(height.begin(), height.begin() + ptrdiff_t(count));
    constexpr int64_t kHostFrameNs = 1000000;
    const double reached = std::pow(1e-4, 1.0 / double(count - 1));
    return std::max<int64_t>(0, int64_t(double(highest) / reached)) + kHostFrameNs;
}

}  // namespace

bool EdgeReports::spacedFrom(size_t from) const {
    for (size_t i = from + 1; i < count; ++i)
        if (arrival[i] - arrival[i - 1] < intervalNs / 2) return false;
    return true;
}

bool EdgeReports::trusted(size_t from) const {
    return lastOff >= from + kRunReports && spacedFrom(from);
}

// A segment enough to have one report read promptly (trusted) and whose promptest report lies
// a whole number of intervals later on the grid than the known phase, within the tolerance,
// follows reports lost. Where exactly they were lost is known only up to the untrusted
// segments before it (a few late reads look the same): those reports are counted after the
// loss, so that projections from them fall earlier, never later. A timer restarted by about
// one interval looks like a loss, and then the old phase is right to within the tolerance, so
// projections across the loss allow for it. A trusted segment on another phase is a restart:
// its phase is the known one from then on.
void bridgeLosses(EdgeReports& reports) {
    const int64_t interval = reports.intervalNs;
    // With a tolerance of half an interval or more, a loss cannot be told from a restart.
    if (2 * reports.toleranceNs >= interval) return;
    Segment segment = segmentFrom(reports, 0);
    int64_t phase = segment.promptest;  // the promptest report on the known phase
    size_t unsure = segment.end;        // reports from here on are not yet placed on the grid
    while (segment.end < reports.count) {
        segment = segmentFrom(reports, segment.end);
        if (!segment.enough) continue;
        const int64_t shift = segment.promptest - phase;
        const int64_t lost = shift > 0 ? (shift + interval / 2) / interval : 0;
        if (std::abs(shift - lost * interval) > reports.toleranceNs) {
            phase = segment.promptest;  // a restart
        } else if (lost >= 1) {
            bridgeLoss(reports, unsure, segment, lost);
            phase = segment.promptest - lost * interval;
        } else {
            phase = std::min(phase, segment.promptest);
        }
        unsure = segment.end;
    }
}

// A restarted timer or a pause puts every later report later on the old grid; one late read
// puts only itself there. The run since the last such break: its earliest report, and every
// later one up to the newest, lies later than every report before it by more than the
// tolerance. A break close to the edge may as well be a stalled reader that read the last
// reports late, and so may a burst of reports read together after a stall: the projection
// reaches across them from the last break before (earlier by up to one interval each, never
// wrong).
size_t findRun(const EdgeReports& reports) {
    size_t runStart = 0;
    int64_t fromStart = reports.residual(reports.count - 1);  // the promptest from `start` on
    for (size_t start = reports.count - 1; start-- > 1;) {
        fromStart = std::min(fromStart, reports.residual(start));
        if (start > reports.lastOff) continue;
        int64_t beforeStart = reports.residual(0);
        for (size_t i = 1; i < start; ++i) beforeStart = std::min(beforeStart, reports.residual(i));
        if (fromStart > beforeStart + reports.toleranceNs && reports.trusted(start)) {
            runStart = start;
            break;
        }
    }
    // Enough reports after the last loss: those before it, projected across it with the
    // allowance, are not needed.
    if (reports.lastBridged != 0 && reports.lastBridged + kRunReports <= reports.lastOff + 1)
        runStart = std::max(runStart, reports.lastBridged);
    return runStart;
}

// Projected forward from each report of the run (a fast crystal allowed for): the earliest
// such projection lies within the quickest delivery and the least send delay (jitter, a poll
// hold) of the run's reports.
int64_t lowerBound(const EdgeReports& reports, size_t runStart, int64_t beforeBurstNs) {
    const size_t lastOff = reports.lastOff;
    const int64_t stepNs = fastStepNs(reports.intervalNs);
    const int64_t leastDelayNs = leastSendDelayNs(reports, runStart);
    int64_t bound = reports.arrival[lastOff];
    bool acrossLoss = false;
    for (size_t i = lastOff; i-- > runStart;) {
        acrossLoss = acrossLoss || reports.bridged[i + 1];
        const int64_t slots =
            (reports.slot[lastOff] - reports.unplaced[lastOff]) - (reports.slot[i] - reports.unplaced[i]);
        bound = std::min(bound, reports.arrival[i] + slots * stepNs - leastDelayNs -
                                    (acrossLoss ? reports.toleranceNs : 0));
    }
    // When every report of the run was read in a burst after a stalled reader, the report read
    // before the burst bounds the last off report.
    if (readInBurst(reports, runStart)) bound = std::min(bound, beforeBurstNs);
    return bound;
}

// Each later report was sent at least its count of intervals (a fast crystal allowed for)
// after the first on report's timer, and the first on report at most the send delay bound
// after its timer. Counted by reports, not slots: a lost one only adds time.
int64_t upperBound(const EdgeReports& reports, size_t runStart) {
    const size_t firstOn = reports.firstOn();
    int64_t bound = reports.arrival[firstOn];
    const int64_t delayBound =
        sendDelayBoundNs(reports.slot.data() + runStart, reports.arrival.data() + runStart,
                         reports.count - runStart, firstOn - runStart);
    if (delayBound < 0) return bound;
    const int64_t stepNs = fastStepNs(reports.intervalNs);
    for (size_t later = 1; firstOn + later < reports.count; ++later)
        bound = std::min(bound, reports.arrival[firstOn + later] - int64_t(later) * stepNs + delayBound);
    return bound;
}

}  // namespace corva::prox
