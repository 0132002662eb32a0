// The telemetry reader thread: keeps worn, distance and dstat current and reconnects
// when the MCU vanishes.
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/platform.h"
#include "prox/displays_on_edge_tracker.h"
#include "prox/mcu_prox.h"
#include "prox/prox_report.h"
#include "prox/telemetry_interval.h"
#include "prox/worn_filter.h"
#include "trace/trace.h"

namespace corva {

namespace {

constexpr uint32_t kTelemetryReadTimeoutMs = 1000;
static_assert(McuProx::kDisplaysOnLaterReports == prox::DisplaysOnEdgeTracker::kLaterReports);
constexpr int kSilentReadsForGone = 3;
constexpr int64_t kReconnectWaitNs = 2000000000;
constexpr uint32_t kReconnectPollMs = 100;

// Two seconds by the steady clock (a count of sleeps would stretch with each sleep's
// overshoot), polled so that close() is answered within 100 ms. False when stopped.
bool waitBeforeReconnect(const std::atomic<bool>& stopRequested) {
    const int64_t until = platform::steadyNowNs() + kReconnectWaitNs;
    for (int64_t now = platform::steadyNowNs(); now < until; now = platform::steadyNowNs()) {
        if (stopRequested.load()) return false;
        const int64_t leftMs = (until - now + 999999) / 1000000;
        platform::sleepMs(static_cast<uint32_t>(leftMs < kReconnectPollMs ? leftMs : kReconnectPollMs));
    }
    return !stopRequested.load();
}

}  // namespace

void McuProx::readerLoop() {
    // Telemetry must keep flowing while the console holds output back.
    const lines::CriticalThread critical;
    platform::raiseTimingThreadPriority();
    prox::WornFilter filter;
    prox::TelemetryIntervalMeter meter;
    prox::DeliveryInterval delivery;
    prox::DisplaysOnEdgeTracker edge;
    edge.setAskedIntervalNs(int64_t(rateMs) * 1000000);
    meter.setAskedIntervalNs(int64_t(rateMs) * 1000000);
    telemetry_.setAskedIntervalNs(int64_t(rateMs) * 1000000);
    int differing = 0;              // measurements in a row off the interval asked for
    bool intervalReported = false;  // said at most once per run
    int silentReads = 0;
    uint8_t buffer[prox::kReportBytes];

    auto goneAfter = [&] {
        dropDevice();
        deviceGone_.store(true);
        linkLosses_.fetch_add(1);
        worn.store(false, std::memory_order_relaxed);
        distance.store(0, std::memory_order_relaxed);
        trace::linkChange(platform::steadyNowNs(), true);
        noteFirstAverage();
    };

    while (!stopRequested.load()) {
        if (device == nullptr) {
            if (!waitBeforeReconnect(stopRequested)) break;
            // Given up when stopped, so that a stop is not held up by a whole probe.
            HidHandle found = probeRate(rateMs, readEvent, {0, &stopRequested, readerStop_});
            if (found == nullptr) continue;
            adoptReconnected(found);
            filter.restart();
            meter.restart();
            delivery.restart();
            edge.restart();
            telemetry_.restart();
            silentReads = 0;
            trace::linkChange(platform::steadyNowNs(), false);
            if (stopRequested.load()) break;  // the stop's cancel came before the handle
        }

        const int got =
            readReport(device, readEvent, buffer, sizeof(buffer), kTelemetryReadTimeoutMs, readerStop_);
        if (got < 0) {
            if (stopRequested.load()) break;
            lines::print(lines::kMcuReadFailed, transport_.lastError());
            goneAfter();
            continue;
        }
        if (got == 0) {
            if (stopRequested.load()) break;
            if (++silentReads < kSilentReadsForGone) continue;
            lines::print(lines::kMcuSilent, silentReads);
            goneAfter();
            continue;
        }

        silentReads = 0;
        const int64_t arrivalNs = platform::steadyNowNs();
        lastReportNs_.store(arrivalNs, std::memory_order_relaxed);
        prox::Telemetry telemetry;
        const prox::Payload payload = prox::normaliseReport(buffer, size_t(got));
        if (payload.tag() == prox::kRateAckTag) rateAcks_.fetch_add(1);  // see switchBypassOn()
        if (!prox::decodeTelemetry(payload, telemetry)) continue;
        delivery.add(arrivalNs);
        telemetry_.add(arrivalNs);
        if (meter.add(arrivalNs)) {
            telemetry_.measured(meter);
            // Kept: reports can be timed by the MCU's grid rather than by their late arrival.
            if (prox::intervalKept(meter.measuredMs(), rateMs)) edge.setIntervalNs(int64_t(rateMs) * 1000000);
            // A stalled reader can spoil a measurement or two: only three in a row count.
            differing = prox::intervalDiffers(meter.measuredMs(), rateMs) ? differing + 1 : 0;
            if (differing == 3 && !intervalReported) {
                intervalReported = true;
                // The meter's figure is the MCU's grid; the user is told how often reports come.
                lines::print(lines::kMcuIntervalOff, delivery.ms() > 0.0 ? delivery.ms() : meter.measuredMs(),
                             unsigned(rateMs));
            }
        }
        distance.store(telemetry.proximity, std::memory_order_relaxed);
        if (telemetry.hasDstat) {
            const size_t laterBefore = edge.edgeLaterReports();
            if (edge.add(telemetry.dstat, arrivalNs) || edge.edgeLaterReports() != laterBefore) {
                onEdgeLastOffNs_.store(edge.edgeLastOffNs());
                onEdgeFirstOnNs_.store(edge.edgeFirstOnNs());
                onEdgeLaterReports_.store(uint32_t(edge.edgeLaterReports()));
            }
            // After the edge's times: see displaysOnFirstOnNs() and dstatChangedNs().
            if (dstat.load(std::memory_order_relaxed) != telemetry.dstat) dstatChangedNs_.store(arrivalNs);
            const uint16_t previous = dstat.exchange(telemetry.dstat);
            if (previous != telemetry.dstat) trace::dstatChange(arrivalNs, previous, telemetry.dstat);
        }
        const bool wasWorn = worn.load(std::memory_order_relaxed);
        worn.store(filter.add(telemetry.proximity, wasWorn, threshold, hysteresis),
                   std::memory_order_relaxed);
        if (filter.readingsSinceRestart() >= 8) noteFirstAverage();
    }
    noteFirstAverage();
    running.store(false);
}

}  // namespace corva
