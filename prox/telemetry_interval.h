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

// The interval at which reports reach the reader, what a user is told when the MCU does not
// keep the one asked for. Reports that come together (a host that polls the endpoint less
// often than the MCU sends takes several reports at a poll) count as one delivery, so a
// stream held to a 32 ms poll arrives every 32 ms, not every few microseconds.
class DeliveryInterval {
  public:
    static constexpr int64_t kTogetherNs = 500000;
    void restart() { deliveries_ = 0; }
    void add(int64_t arrivalNs) {
        if (deliveries_ == 0) firstNs_ = arrivalNs;
        if (deliveries_ == 0 || arrivalNs - lastArrivalNs_ > kTogetherNs) {
            lastDeliveryNs_ = arrivalNs;
            ++deliveries_;
        }
        lastArrivalNs_ = arrivalNs;
    }
    // The mean time between deliveries since the restart; 0 before the second.
    double ms() const {
        return deliveries_ < 2 ? 0.0 : double(lastDeliveryNs_ - firstNs_) / double(deliveries_ - 1) / 1e6;
    }

  private:
    uint64_t deliveries_ = 0;
    int64_t firstNs_ = 0;
    int64_t lastDeliveryNs_ = 0;
    int64_t lastArrivalNs_ = 0;
};

// The MCU does not keep the interval asked for: off by more than half of it.
bool intervalDiffers(double measuredMs, uint16_t requestedMs);

// The MCU keeps the interval asked for closely enough to time reports by it (within 10 %).
bool intervalKept(double measuredMs, uint16_t requestedMs);

}  // namespace corva::prox
