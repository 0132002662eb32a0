// What the telemetry really does: its interval, measured from the reports' arrival, and
// the arrival times around the displays coming on.
#pragma once

#include <cstdint>

namespace corva::prox {

// Measures the real interval after a (re)connection: reports queued while the link was
// being set up arrive in a burst, so the first half second is let pass; then the mean gap
// over one second, gaps longer than half a second (an outage, not the interval) left out.
class TelemetryIntervalMeter {
  public:
    void restart() {
        if (!done_) *this = TelemetryIntervalMeter{};
    }
    // Adds one report's arrival; true when this report completes the measurement.
    bool add(int64_t arrivalNs);
    double measuredMs() const { return measuredMs_; }

  private:
    int64_t firstNs_ = 0;
    int64_t windowStartNs_ = 0;
    int64_t previousNs_ = 0;
    int64_t spanNs_ = 0;
    int64_t gaps_ = 0;
    bool done_ = false;
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
