#include "prox/telemetry_interval.h"

#include <cmath>

namespace corva::prox {

namespace {
constexpr int64_t kSettleNs = 500000000;
constexpr int64_t kWindowNs = 1000000000;
constexpr int64_t kOutageNs = 500000000;
constexpr int64_t kMinGaps = 8;
}  // namespace

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    if (done_) return false;
    if (firstNs_ == 0) {
        firstNs_ = arrivalNs;
        return false;
    }
    if (windowStartNs_ == 0) {
        if (arrivalNs - firstNs_ >= kSettleNs) windowStartNs_ = previousNs_ = arrivalNs;
        return false;
    }
    const int64_t gap = arrivalNs - previousNs_;
    previousNs_ = arrivalNs;
    if (gap <= kOutageNs) {
        spanNs_ += gap;
        gaps_ += 1;
    }
    if (arrivalNs - windowStartNs_ < kWindowNs || gaps_ < kMinGaps) return false;
    measuredMs_ = double(spanNs_) / double(gaps_) / 1e6;
    done_ = true;
    return true;
}

bool intervalDiffers(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) > double(requestedMs) / 2.0;
}

bool DisplaysOnEdgeTracker::add(uint16_t dstat, int64_t arrivalNs) {
    const bool on = (dstat & 1) != 0;
    const bool rising = on && !on_;
    if (rising) {
        edgeLastOffNs_ = lastOffNs_;
        edgeFirstOnNs_ = arrivalNs;
    }
    if (!on) lastOffNs_ = arrivalNs;
    on_ = on;
    return rising;
}

}  // namespace corva::prox
