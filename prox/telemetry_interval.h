// What the telemetry really does: its interval, measured from the reports' arrival, and
// the arrival times around the displays coming on.
#pragma once

#include <array>
#include <cstdint>

namespace corva::prox {

// Measures the real interval from the first reports after a (re)connection: the median
// of 16 gaps, so one late or lost report does not skew it.
class TelemetryIntervalMeter {
  public:
    static constexpr int kGaps = 16;
    void restart() { count_ = 0; }
    // Adds one report's arrival; true when this report completes the measurement.
    bool add(int64_t arrivalNs);
    double measuredMs() const { return measuredMs_; }

  private:
    std::array<int64_t, kGaps + 1> arrivals_{};
    int count_ = 0;
    double measuredMs_ = 0.0;
};

// The MCU does not keep the interval asked for: off by more than half of it.
bool intervalDiffers(double measuredMs, uint16_t requestedMs);

// Follows bit 0 of dstat from report to report and keeps, for its last 0 -> 1 change, the
// arrival of the last report that showed the displays off and of the first that showed
// them on. lastOffNs is 0 when no report since the (re)connection showed them off.
class DisplaysOnEdgeTracker {
  public:
    void restart() { lastOffNs_ = 0; }
    // True when this report is the first to show the displays on after showing them off.
    bool add(uint16_t dstat, int64_t arrivalNs);
    int64_t edgeLastOffNs() const { return edgeLastOffNs_; }
    int64_t edgeFirstOnNs() const { return edgeFirstOnNs_; }

  private:
    int64_t lastOffNs_ = 0;
    bool on_ = false;
    int64_t edgeLastOffNs_ = 0;
    int64_t edgeFirstOnNs_ = 0;
};

}  // namespace corva::prox
