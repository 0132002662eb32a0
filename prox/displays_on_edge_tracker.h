// The arrival times around the displays coming on, bounded on the firmware's grid once the
// telemetry's interval is known to be kept.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace corva::prox {

// Follows bit 0 of dstat from report to report and keeps, for its last 0 -> 1 change, when
// the last report that showed the displays off and the first that showed them on were
// sent. A report is read some time after the MCU sent it (the reader thread is woken late
// on a busy machine), so its arrival is a bound on its sending only from above: the first
// on report was sent no later than it arrived, nor later than any of the next few reports'
// arrival less the intervals between them and the firmware's jitter bound. The last off
// report was sent no earlier than any earlier report's arrival plus the intervals between
// them, less the firmware's jitter: whatever else the firmware does between two reports
// (restarting its timer after a pause or a command, losing a report, holding one until the
// host polls it) only adds time between them, so projecting forward from earlier reports
// never overshoots, nor projecting back from later ones undershoots. The earliest such
// projection is within the quickest recent delivery of the truth. Without the interval,
// the arrival times stand: the first on report's own, and for the last off report the
// arrival of the report before it (the off report itself may have been read late, the
// one before it was then read no later than the off report was sent, or both came in one
// burst after a stall).
class DisplaysOnEdgeTracker {
  public:
    static constexpr size_t kRecentReports = 48;
    // Allowed for the quickest a report gets from the MCU to the reader: the lower bound
    // is taken this much earlier.
    static constexpr int64_t kQuickestDeliveryNs = 200000;
    // A crystal may run this much fast or slow against the PC's clock (parts per million).
    static constexpr int64_t kDriftPpm = 300;
    // The firmware's jitter is measured over this many gaps before the edge.
    static constexpr size_t kJitterReports = 16;
    // The last off report is projected from the earlier reports of this span, at least
    // kWindowReports and at most kProjectedReports of them, those since the last break of
    // the grid when at least kRunReports came before the off report. The more reports, the
    // likelier one of them was read promptly and also left the MCU at once (not held for a
    // poll); the drift allowed for grows with the span.
    static constexpr int64_t kProjectedSpanNs = 32000000;
    static constexpr size_t kWindowReports = 16;
    static constexpr size_t kProjectedReports = 32;
    static constexpr size_t kRunReports = 4;
    // How many reports the last off report is projected from at this interval.
    static size_t projectedReports(int64_t intervalNs) {
        return std::clamp(size_t(kProjectedSpanNs / intervalNs), kWindowReports, kProjectedReports);
    }
    // Reports after the first on report that still tighten the bounds: they project the
    // first on report's sending back, and tell lost reports near the edge from late reads.
    static constexpr size_t kLaterReports = 4;
    void restart() {
        recent_ = 0;
        on_ = false;
        later_ = kLaterReports;
    }
    // The interval asked for, which tells a burst of reports read after a stall.
    void setAskedIntervalNs(int64_t askedNs) { askedNs_ = askedNs; }
    // The MCU's interval once it is known to be kept; 0: time reports by their arrival.
    void setIntervalNs(int64_t intervalNs) { intervalNs_ = intervalNs; }
    // True when this report is the first to show the displays on after showing them off.
    bool add(uint16_t dstat, int64_t arrivalNs);
    int64_t edgeLastOffNs() const { return edgeLastOffNs_; }
    int64_t edgeFirstOnNs() const { return edgeFirstOnNs_; }
    // The jitter allowed for at the last edge (0 by arrival).
    int64_t edgeJitterNs() const { return edgeJitterNs_; }
    // Reports since the last edge that have refined its bounds; kLaterReports once nothing
    // more is to come (by arrival, nothing is refined).
    size_t edgeLaterReports() const { return later_; }

  private:
    int64_t arrivalBack(size_t back) const;  // 0: the newest report
    // No later than the last off report was sent, by arrivals alone (the on report
    // `onBack` reports back from the newest).
    int64_t arrivalBeforeBurstNs(size_t onBack) const;
    // The spread of the gaps between arrivals about whole intervals, taken as the firmware's
    // jitter: a reader's occasional delay leaves the median alone, jitter moves it.
    int64_t jitterNs(size_t reports) const;
    // Both bounds of the last edge on the grid, from the reports before it and later_ after.
    void gridBounds();

    std::array<int64_t, kRecentReports> arrivals_{};  // newest at (recent_ - 1) % size
    size_t recent_ = 0;                               // reports since restart
    int64_t intervalNs_ = 0;
    int64_t askedNs_ = 0;
    bool on_ = false;
    size_t later_ = kLaterReports;
    int64_t edgeLastOffNs_ = 0;
    int64_t edgeFirstOnNs_ = 0;
    int64_t edgeJitterNs_ = 0;
};

}  // namespace corva::prox
