// What the telemetry really does: its interval, measured from the reports' arrival.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corva::prox {

// Measures the real interval over each run of 24 reports, one run after the other. A report is
// read some time after the MCU sent it, and a stalled reader takes several at once, so
// neither one gap nor the mean of a few can be trusted. Sent on a grid and read at or after
// it, the reports' arrivals lie on or above a line whose slope is the interval: the lower
// hull of the arrivals, whose corners are the reports read promptly, gives it.
class TelemetryIntervalMeter {
  public:
    static constexpr size_t kReports = 24;
    void restart() { count_ = 0; }
    // The interval asked for: the gaps are placed by it when most lie about it (a poll that
    // holds some reports longer makes the commonest gap shorter than the interval).
    void setAskedIntervalNs(int64_t askedNs) { askedNs_ = askedNs; }
    // Adds one report's arrival; true when this report completes a measurement.
    bool add(int64_t arrivalNs);
    double measuredMs() const { return measuredMs_; }

  private:
    std::array<int64_t, kReports> arrivals_{};
    size_t count_ = 0;
    int64_t askedNs_ = 0;
    double measuredMs_ = 0.0;
};

// The MCU does not keep the interval asked for: off by more than half of it.
bool intervalDiffers(double measuredMs, uint16_t requestedMs);

// The MCU keeps the interval asked for closely enough to time reports by it (within 10 %).
bool intervalKept(double measuredMs, uint16_t requestedMs);

}  // namespace corva::prox
