#include "prox/telemetry_conditions.h"

#include <algorithm>

namespace corva::prox {

void TelemetryConditions::keep(int64_t gapNs, int64_t nowNs) {
    if (nowNs - bucketStartNs_ >= kCadenceNs) {
        previousLongestNs_ = longestNs_;
        longestNs_ = 0;
        bucketStartNs_ = nowNs;
    }
    longestNs_ = std::max(longestNs_, gapNs);
}

bool TelemetryConditions::add(int64_t arrivalNs) {
    bool stalled = false;
    if (lastNs_ == 0) {
        firstNs_ = bucketStartNs_ = arrivalNs;
    } else {
        const int64_t gap = arrivalNs - lastNs_;
        const int64_t asked = figures_.askedNs;
        if (heldGapNs_ != 0) {
            if (asked > 0 && gap < asked / 2) {
                // The report before this one came after a long gap, and this one within half an
                // interval of it: read in a burst (as the displays-on estimator tells one).
                figures_.readerStalls += 1;
                figures_.longestStallNs = std::max(figures_.longestStallNs, heldGapNs_);
                stallToNs_.store(0);
                stallFromNs_.store(lastNs_ - heldGapNs_);
                stallToNs_.store(lastNs_);
                stalled = true;
            } else {
                keep(heldGapNs_, lastNs_);  // a long gap of the stream's own
            }
            heldGapNs_ = 0;
        }
        const int64_t bound = std::max({asked, longestNs_, previousLongestNs_});
        const bool learnt = lastNs_ - firstNs_ >= kCadenceNs;
        if (learnt && gap * 2 > bound * 3)
            heldGapNs_ = gap;  // judged by the next report
        else
            keep(gap, arrivalNs);
    }
    lastNs_ = arrivalNs;
    return stalled;
}

void TelemetryConditions::measured(const TelemetryIntervalMeter& meter) {
    const double ms = meter.measuredMs();
    TelemetryFigures& f = figures_;
    f.measuredMinMs = f.measurements == 0 ? ms : std::min(f.measuredMinMs, ms);
    f.measuredMaxMs = f.measurements == 0 ? ms : std::max(f.measuredMaxMs, ms);
    f.leastPrompt =
        f.measurements == 0 ? meter.promptReports() : std::min(f.leastPrompt, meter.promptReports());
    f.measurements += 1;
    f.jitterMaxNs = std::max(f.jitterMaxNs, meter.jitterNs());
    f.reports += TelemetryIntervalMeter::kReports;
    f.promptReports += meter.promptReports();
    f.lostReports += meter.lostReports();
    f.timerRestarts += meter.timerRestarts();
}

}  // namespace corva::prox
