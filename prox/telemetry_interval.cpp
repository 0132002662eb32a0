#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace corva::prox {

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    arrivals_[count_++] = arrivalNs;
    if (count_ < kReports) return false;
    count_ = 0;
    // Each report's place in the stream: a gap of m typical gaps (m >= 2, to within a quarter
    // of one) is reports lost on the way, unless the next gap is short (a late read that the
    // reader made up for).
    std::array<int64_t, kReports> gaps{};
    for (size_t i = 1; i < kReports; ++i) gaps[i] = arrivals_[i] - arrivals_[i - 1];
    std::array<int64_t, kReports> sorted = gaps;
    std::sort(sorted.begin() + 1, sorted.end());
    // Only in a stream read report by report: most gaps within a quarter of the typical one
    // (after a stalled reader, the gaps say nothing about the reports' places). The typical
    // gap is the interval asked for when three in five gaps lie about it (a poll period a
    // little shorter than the interval holds every few reports to the poll after: the
    // commonest gap is then the poll period), else the median one, about which three in four
    // must lie.
    auto regularAbout = [&](int64_t typical) {
        size_t regular = 0;
        for (size_t i = 1; i < kReports; ++i) regular += std::abs(gaps[i] - typical) <= typical / 4 ? 1 : 0;
        return regular;
    };
    const bool asked = askedNs_ > 0 && regularAbout(askedNs_) * 5 >= (kReports - 1) * 3;
    const int64_t typical = asked ? askedNs_ : sorted[kReports / 2];
    const bool clean = asked || (typical > 0 && regularAbout(typical) * 4 >= (kReports - 1) * 3);
    std::array<int64_t, kReports> slot{};
    for (size_t i = 1; i < kReports; ++i) {
        int64_t step = 1;
        if (clean) {
            const int64_t m = (gaps[i] + typical / 2) / typical;
            const bool madeUp = i + 1 < kReports && gaps[i + 1] < typical / 2;
            if (m >= 2 && m <= 4 && std::abs(gaps[i] - m * typical) <= typical / 4 && !madeUp) step = m;
        }
        slot[i] = slot[i - 1] + step;
    }
    // The lower convex hull of (place, arrival): its corners are reports read promptly.
    auto y = [&](size_t i) { return double(arrivals_[i] - arrivals_[0]); };
    auto x = [&](size_t i) { return double(slot[i]); };
    auto turnsUp = [&](size_t o, size_t a, size_t b) {
        return (x(a) - x(o)) * (y(b) - y(o)) - (y(a) - y(o)) * (x(b) - x(o)) > 0.0;
    };
    std::array<size_t, kReports> hull{};
    size_t corners = 0;
    for (size_t i = 0; i < kReports; ++i) {
        while (corners >= 2 && !turnsUp(hull[corners - 2], hull[corners - 1], i)) --corners;
        hull[corners++] = i;
    }
    // The edge over the middle report: its slope is the interval.
    const double middle = x(kReports - 1) / 2.0;
    size_t edge = 0;
    while (edge + 2 < corners && x(hull[edge + 1]) < middle) ++edge;
    const size_t from = hull[edge];
    const size_t to = hull[edge + 1];
    measuredMs_ = (y(to) - y(from)) / (x(to) - x(from)) / 1e6;
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

namespace {

// How late the firmware sends a report after its timer, at most (jitter, a poll hold): the
// reports' heights above the lower hull of their arrivals on the grid spread over it, read
// delays only add to them. The highest but that of report `bounded` (whose own delay is in
// question: its read may have been late), widened for the top of the spread that the reports
// may not have reached (all m of them below the share y of it only with odds y^m, kept at 1
// in 10,000), and one host frame (1 ms) for a poll that this report waited for and none
// before it did (a timer that sits just before a poll, and a little jitter); -1 when too
// few reports tell it.
int64_t sendDelayBoundNs(const int64_t* slot, const int64_t* arrival, size_t count, size_t bounded) {
    constexpr size_t kMax = DisplaysOnEdgeTracker::kRecentReports;
    if (count < 12 || count > kMax) return -1;
    auto turnsUp = [&](size_t o, size_t a, size_t b) {
        return double(slot[a] - slot[o]) * double(arrival[b] - arrival[o]) -
                   double(arrival[a] - arrival[o]) * double(slot[b] - slot[o]) >
               0.0;
    };
    std::array<size_t, kMax> hull{};
    size_t corners = 0;
    for (size_t i = 0; i < count; ++i) {
        while (corners >= 2 && !turnsUp(hull[corners - 2], hull[corners - 1], i)) --corners;
        hull[corners++] = i;
    }
    std::array<int64_t, kMax> height{};
    size_t edge = 0;
    for (size_t i = 0; i < count; ++i) {
        while (edge + 2 < corners && hull[edge + 1] <= i) ++edge;
        const size_t from = hull[edge];
        const size_t to = hull[std::min(edge + 1, corners - 1)];
        const double slope =
            to == from ? 0.0 : double(arrival[to] - arrival[from]) / double(slot[to] - slot[from]);
        height[i] = arrival[i] - arrival[from] - int64_t(slope * double(slot[i] - slot[from]));
    }
    height[bounded] = 0;
    const int64_t highest = *std::max_element(height.begin(), height.begin() + ptrdiff_t(count));
    constexpr int64_t kHostFrameNs = 1000000;
    const double reached = std::pow(1e-4, 1.0 / double(count - 1));
    return std::max<int64_t>(0, int64_t(double(highest) / reached)) + kHostFrameNs;
}

}  // namespace

void DisplaysOnEdgeTracker::gridBounds() {
    constexpr size_t kMax = kProjectedReports + 2 + kLaterReports;
    const int64_t interval = intervalNs_;
    // Oldest first: the projected reports, the off report, the on report and those after it.
    const size_t newer = later_ + 1;
    const size_t projected = projectedReports(interval);
    const size_t n = std::min(recent_, projected + 1 + newer);
    const size_t off = n - 1 - newer;
    std::array<int64_t, kMax> arrival{};
    std::array<int64_t, kMax> slot{};  // each report's place on the firmware's grid
    for (size_t i = 0; i < n; ++i) {
        arrival[i] = arrivalBack(n - 1 - i);
        slot[i] = int64_t(i);
    }
    auto residual = [&](size_t i) { return arrival[i] - slot[i] * interval; };
    // Read report by report from `from` on, each at least half an interval after the one
    // before: not a burst read at once after a stalled reader.
    auto spacedFrom = [&](size_t from) {
        for (size_t i = from + 1; i < n; ++i)
            if (arrival[i] - arrival[i - 1] < interval / 2) return false;
        return true;
    };
    // Enough reports from `from` to the off report, read one by one to the newest, that one
    // of them was read promptly: a stalled reader does not read several in a row late by the
    // same whole intervals.
    auto trusted = [&](size_t from) { return off >= from + kRunReports && spacedFrom(from); };
    // A crystal fast or slow moves the reports on the asked-for grid by up to this much.
    const int64_t driftNs = int64_t(n) * interval * kDriftPpm / 1000000;
    const int64_t tolerance = 2 * edgeJitterNs_ + kQuickestDeliveryNs + driftNs;

    // A gap of one and a half intervals or more splits the reports into segments. A segment
    // enough to have one report read promptly (trusted) and whose promptest report lies a
    // whole number of intervals later on the grid than the known phase, within the
    // tolerance, follows reports lost. Where exactly they were lost is known only up to the
    // untrusted segments before it (a few late reads look the same): those reports are
    // counted after the loss, so that projections from them fall earlier, never later. A
    // timer restarted by about one interval looks like a loss, and then the old phase is
    // right to within the tolerance, so projections across the loss allow for it. A trusted
    // segment on another phase is a restart: its phase is the known one from then on.
    auto gapAt = [&](size_t i) { return arrival[i] - arrival[i - 1] >= interval + interval / 2; };
    std::array<bool, kMax> bridged{};  // reports lost somewhere just before report i
    size_t segmentEnd = 1;
    while (segmentEnd < n && !gapAt(segmentEnd)) ++segmentEnd;
    int64_t phase = residual(0);  // the promptest report on the known phase
    for (size_t i = 1; i < segmentEnd; ++i) phase = std::min(phase, residual(i));
    size_t unsure = segmentEnd;  // reports from here on are not yet placed on the grid
    size_t lastBridged = 0;      // the trusted segment after the last loss
    // Slots counted before the off report that may as well have been lost after it. The loss
    // is placed by the segment's promptest report, and a report read late by whole intervals
    // before that one hides a gap after it (the off report read late, reports lost between it
    // and the on report look like reports lost before it). Placed before the off report when
    // a report of the segment before it lies on the segment's phase; not when the segment
    // starts with the off report or after it. Such slots are not counted between a report
    // before the loss and the off report; between two reports after it, counted or not, they
    // cancel.
    std::array<int64_t, kMax> unplaced{};
    for (size_t g = segmentEnd; g < n; g = segmentEnd) {
        segmentEnd = g + 1;
        while (segmentEnd < n && !gapAt(segmentEnd)) ++segmentEnd;
        bool enough = segmentEnd - g >= kRunReports + 2;
        int64_t promptest = residual(g);
        int64_t promptestToOff = off > g ? residual(g) : INT64_MAX;
        for (size_t i = g + 1; i < segmentEnd; ++i) {
            promptest = std::min(promptest, residual(i));
            if (i < off) promptestToOff = std::min(promptestToOff, residual(i));
            enough = enough && arrival[i] - arrival[i - 1] >= interval / 2;
        }
        // With a tolerance of half an interval or more, a loss cannot be told from a restart.
        if (!enough || 2 * tolerance >= interval) continue;
        const int64_t shift = promptest - phase;
        const int64_t lost = shift > 0 ? (shift + interval / 2) / interval : 0;
        if (std::abs(shift - lost * interval) > tolerance) {
            phase = promptest;  // a restart
        } else if (lost >= 1) {
            for (size_t i = unsure; i < n; ++i) slot[i] += lost;
            if (unsure <= off && (off < g || promptestToOff - promptest > tolerance))
                for (size_t i = unsure; i < n; ++i) unplaced[i] += lost;
            bridged[unsure] = true;
            lastBridged = g;
            phase = promptest - lost * interval;
        } else {
            phase = std::min(phase, promptest);
        }
        unsure = segmentEnd;
    }

    // A restarted timer or a pause puts every later report later on the old grid; one late
    // read puts only itself there. The run since the last such break: its earliest report,
    // and every later one up to the newest, lies later than every report before it by more
    // than the tolerance. A break close to the edge may as well be a stalled reader that
    // read the last reports late, and so may a burst of reports read together after a
    // stall: the projection reaches across them from the last break before (earlier by up
    // to one interval each, never wrong).
    size_t runStart = 0;
    int64_t after = residual(n - 1);
    for (size_t k = n - 1; k-- > 1;) {
        after = std::min(after, residual(k));
        if (k > off) continue;
        int64_t before = residual(0);
        for (size_t i = 1; i < k; ++i) before = std::min(before, residual(i));
        if (after > before + tolerance && trusted(k)) {
            runStart = k;
            break;
        }
    }

    // Enough reports after the last loss: those before it, projected across it with the
    // allowance, are not needed.
    if (lastBridged != 0 && lastBridged + kRunReports <= off + 1) runStart = std::max(runStart, lastBridged);

    // Projected forward from each report of the run (a fast crystal allowed for): the earliest
    // such projection lies within the quickest delivery and the least send delay (jitter, a
    // poll hold) of the run's reports. The fewer they are, the more of the jitter that least
    // delay may still be: each is somewhere in it, so all m of them lie in its top share x
    // only with odds (1 - x)^m; the allowance keeps those odds at 1 in 10,000.
    const int64_t fastStepNs = interval - interval * kDriftPpm / 1000000;
    int64_t lastOff = arrival[off];
    bool acrossLoss = false;
    // The send delays spread over no more than the measured jitter, nor more than the run's
    // reports spread about the grid (a poll's holds spread over its period, which the jitter
    // measured from the gaps overstates; read delays only add to the spread).
    int64_t lowest = residual(off);
    int64_t highest = residual(off);
    for (size_t i = runStart; i < off; ++i) {
        lowest = std::min(lowest, residual(i));
        highest = std::max(highest, residual(i));
    }
    const double spread = double(std::min(edgeJitterNs_, highest - lowest));
    const double runReports = double(std::max<size_t>(1, off - runStart));
    const int64_t leastDelayNs = int64_t(spread * (1.0 - std::pow(1e-4, 1.0 / runReports)));
    for (size_t i = off; i-- > runStart;) {
        acrossLoss = acrossLoss || bridged[i + 1];
        const int64_t slots = (slot[off] - unplaced[off]) - (slot[i] - unplaced[i]);
        lastOff =
            std::min(lastOff, arrival[i] + slots * fastStepNs - leastDelayNs - (acrossLoss ? tolerance : 0));
    }
    // When every report of the run was read in a burst after a stalled reader, none of them
    // was read promptly: the report read before the burst bounds the off report. Even a
    // report read promptly arrives a little after it was sent (the reader's wake-up): the
    // lower bound is taken that much earlier.
    bool burst = true;
    for (size_t i = std::max<size_t>(runStart, 1); burst && i < off; ++i)
        burst = arrival[i] - arrival[i - 1] < interval / 2;
    if (burst) lastOff = std::min(lastOff, arrivalBeforeBurstNs(later_));
    edgeLastOffNs_ = lastOff - kQuickestDeliveryNs;

    // Each later report was sent at least its count of intervals (a fast crystal allowed for)
    // after the first on report's timer, and the first on report at most the send delay
    // bound after its timer. Counted by reports, not slots: a lost one only adds time.
    const size_t on = off + 1;
    edgeFirstOnNs_ = arrival[on];
    const int64_t delayBound =
        sendDelayBoundNs(slot.data() + runStart, arrival.data() + runStart, n - runStart, on - runStart);
    if (delayBound < 0) return;
    for (size_t k = 1; on + k < n; ++k)
        edgeFirstOnNs_ = std::min(edgeFirstOnNs_, arrival[on + k] - int64_t(k) * fastStepNs + delayBound);
}

int64_t DisplaysOnEdgeTracker::arrivalBeforeBurstNs(size_t onBack) const {
    // A report read within half an interval of the one before it waited in the queue: the
    // reader had stalled, and the first report of such a burst is the latest of all. When
    // the off report is in one (or starts one the on report is in), the report before the
    // burst bounds it.
    const size_t n = std::min(recent_, kRecentReports);
    auto queued = [&](size_t back) {
        return back + 1 < n && arrivalBack(back) - arrivalBack(back + 1) < askedNs_ / 2;
    };
    const size_t offBack = onBack + 1;
    if (!queued(onBack) && !queued(offBack)) return arrivalBack(offBack);
    size_t first = offBack;
    while (queued(first)) ++first;
    return arrivalBack(first + 1 < n ? first + 1 : first);
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
