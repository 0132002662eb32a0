// What the telemetry did over a run, as the displays-on interval's bounds rest on it: the
// interval asked for against the one measured, jitter, lost reports, timer restarts, the
// share of reports read promptly, and stalls of the reader. Kept by the reader thread
// (fixed arrays, nothing allocated per report), read once it has stopped; the last stall's
// times are published for the monitor as it judges each wake.
#pragma once

#include "prox/telemetry_interval.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corva::prox {

struct TelemetryFigures {
    int64_t askedNs = 0;
    uint32_t measurements = 0;
    double measuredMinMs = 0.0;  // the measurements furthest below and above the interval
    double measuredMaxMs = 0.0;
    int64_t jitterMaxNs = 0;     // the highest of the measurements' jitter
    uint64_t reports = 0;        // in the measurements
    uint64_t promptReports = 0;  // of them read promptly
    uint32_t leastPrompt = 0;    // the fewest in one measurement (of 24 reports)
    uint64_t lostReports = 0;
    uint32_t timerRestarts = 0;
    uint32_t readerStalls = 0;
    int64_t longestStallNs = 0;
};

// A reader stall: reports read in a burst (the next within half an interval) after a gap
// longer than one and a half times both the interval asked for and the longest gap the
// stream kept in the second or two before. A slow USB poll that delivers its reports
// together keeps such gaps all the time: that is the firmware's cadence, no stall. The
// stream's cadence is learnt over its first second, in which no stall is counted.
class TelemetryConditions {
  public:
    static constexpr int64_t kCadenceNs = 1000000000;

    void setAskedIntervalNs(int64_t askedNs) { figures_.askedNs = askedNs; }
    // After a reconnect: gaps across the outage are no stall.
    void restart() {
        lastNs_ = 0;
        heldGapNs_ = 0;
        firstNs_ = 0;
        bucketStartNs_ = 0;
        longestNs_ = previousLongestNs_ = 0;
    }
    // One report's arrival. True when it shows the reader stalled (its burst began with the
    // report before it).
    bool add(int64_t arrivalNs);
    // A measurement of the interval meter completed.
    void measured(const TelemetryIntervalMeter& meter);

    const TelemetryFigures& figures() const { return figures_; }
    // The last stall: from the report before the gap to the burst's first report; 0: none.
    int64_t lastStallFromNs() const { return stallFromNs_.load(); }
    int64_t lastStallToNs() const { return stallToNs_.load(); }

  private:
    // The gap joins the stream's cadence: the longest of this second and the one before.
    void keep(int64_t gapNs, int64_t nowNs);

    TelemetryFigures figures_;
    int64_t firstNs_ = 0;
    int64_t bucketStartNs_ = 0;
    int64_t longestNs_ = 0;
    int64_t previousLongestNs_ = 0;
    int64_t lastNs_ = 0;
    int64_t heldGapNs_ = 0;  // a long gap that the next report may show to be a stall
    std::atomic<int64_t> stallFromNs_{0};
    std::atomic<int64_t> stallToNs_{0};
};

}  // namespace corva::prox
