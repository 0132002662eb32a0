#include "app/status_threads.h"

#include "app/shared_state.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "app/wake_phases.h"
#include "app/condition_lines.h"
#include "prox/displays_on_edge_tracker.h"
#include "platform/platform.h"

#include <algorithm>

namespace corva {

namespace {

// Ten reports at the 50 ms telemetry interval.
constexpr int64_t kTelemetryPauseNs = 500000000;

// The reports after the displays came on tighten the interval: waited for, up to four
// telemetry intervals but no longer than this (two reports at the 50 ms interval).
constexpr int64_t kLaterReportsWaitNs = 120000000;

// A timed wake whose phase line waits for the reports after its displays-on change: they
// tighten the interval. The monitor keeps sampling meanwhile and prints the line once they
// are in, the wait is up, the run stops or the link is lost (the times so far hold in any case).
struct PendingPhases {
    int64_t requestNs = 0;  // 0: none pending
    int64_t untilNs = 0;
    uint32_t losses = 0;
    int64_t monitorLateNs = 0;  // from the displays-on report's arrival to the latency's stamp
};

PendingPhases phasesAwaited(const McuProx& link, int64_t requestNs, int64_t stampedNs) {
    const int64_t intervals = int64_t(McuProx::kDisplaysOnLaterReports) * link.rateMs * 1000000 + 2000000;
    return {requestNs, platform::steadyNowNs() + std::min(intervals, kLaterReportsWaitNs), link.linkLosses(),
            std::max<int64_t>(stampedNs - link.dstatChangedNs(), 0)};
}

// What the wake's figures rested on: a reader stall counts from the span the last off
// report is projected from, before the request, to the phase line.
WakeConditions wakeConditions(const McuProx& link, const PendingPhases& pending) {
    WakeConditions wake;
    wake.monitorLateNs = pending.monitorLateNs;
    wake.parkedGapNs = WakePhaseStamps.parkedGapNs.load();
    const int64_t stallTo = link.lastReaderStallToNs();
    const int64_t stallFrom = link.lastReaderStallFromNs();
    if (stallTo != 0 && stallTo >= pending.requestNs - prox::DisplaysOnEdgeTracker::kProjectedSpanNs)
        wake.readerStallNs = stallTo - stallFrom;
    return wake;
}

bool laterReportsIn(const McuProx& link, const PendingPhases& pending) {
    return link.displaysOnLaterReports() >= McuProx::kDisplaysOnLaterReports || StopFlag.load() ||
           link.deviceGone() || link.linkLosses() != pending.losses ||
           platform::steadyNowNs() >= pending.untilNs;
}

// The phases of the wake requested at `requestNs`, from the stamps of its steps and the
// telemetry around the displays coming on; then the wake counts as measured.
void printWakePhases(const McuProx& link, PendingPhases& pending) {
    WakePhaseTimes times;
    times.requestNs = pending.requestNs;
    times.reactNs = WakePhaseStamps.reactNs.load();
    times.modeNs = WakePhaseStamps.modeNs.load();
    times.powerNs = WakePhaseStamps.powerNs.load();
    times.vblankNs = WakePhaseStamps.vblankNs.load();
    times.onLoNs = link.displaysOnLastOffNs();
    times.onHiNs = link.displaysOnFirstOnNs();
    const WakePhaseFields f = wakePhaseFields(times);
    lines::print(lines::kWakePhases, f.react, f.mode, f.power, f.vblank, f.on);
    printWakeConditions(wakeConditions(link, pending));
    pending = {};
    // After the phase line: the benchmark driver goes on (or ends the run) once it sees this.
    LastWakeVerdict.store(WakeVerdict::Measured);
}

// Prints the change from `previous` to the link's current word, if any, and the wake
// latency when it is the displays coming on after a wake request (its phases then await
// the later reports). Returns the current word.
uint16_t reportDstatChange(const McuProx& link, uint16_t previous, PendingPhases& pending) {
    const uint16_t current = link.dstat.load(std::memory_order_relaxed);
    if (current == previous) return current;
    const platform::LocalTime t = platform::localTimeNow();
    lines::print(lines::kDstatChange, previous, current, current & 1, (current >> 1) & 1, t.hour, t.minute,
                 t.second, t.millisecond);
    if ((current & 1) != 0 && (previous & 1) == 0) {
        const int64_t stamp = WakeRequestStamp.exchange(0);
        if (stamp != 0) {
            // Read after the change line is printed (queued for output while the output
            // thread runs): the figure includes printing it.
            const int64_t now = platform::steadyNowNs();
            // An earlier wake's phases still waiting: these displays-on times are the new edge's.
            if (pending.requestNs != 0) printWakePhases(link, pending);
            lines::print(lines::kWakeLatency, static_cast<double>(now - stamp) / 1000000.0);
            pending = phasesAwaited(link, stamp, now);
        }
    }
    return current;
}

}  // namespace

void dstatMonitorLoop(McuProx& link) {
    platform::raiseTimingThreadPriority();
    MonitorPolls = PollGaps{};
    MonitorPolls.look(platform::steadyNowNs());
    uint16_t previous = link.dstat.load(std::memory_order_relaxed);
    uint32_t losses = link.linkLosses();
    PendingPhases pending;
    while (!StopFlag.load()) {
        // A displays-on change the telemetry showed before it stopped is still timed.
        previous = reportDstatChange(link, previous, pending);
        if (pending.requestNs != 0 && laterReportsIn(link, pending)) printWakePhases(link, pending);
        // A wake whose displays-on change was not seen before the telemetry stopped cannot
        // be timed: the next displays-on seen comes after the outage (and a replugged MCU
        // wakes the displays by itself). Its stamp is dropped within 2 ms of the loss, or
        // once no report has come for ten telemetry intervals.
        const bool lost = link.deviceGone() || link.linkLosses() != losses;
        losses = link.linkLosses();
        const int64_t lastReport = link.lastReportNs();
        const bool paused = lastReport != 0 && platform::steadyNowNs() - lastReport > kTelemetryPauseNs;
        if ((lost || paused) && WakeRequestStamp.exchange(0) != 0) {
            lines::print(lines::kWakeLatencyDiscarded, lost ? lines::kLinkLost : lines::kTelemetryPaused);
            LastWakeVerdict.store(lost ? WakeVerdict::DiscardedLinkLost : WakeVerdict::DiscardedPaused);
        } else if (lost && LastWakeVerdict.load() == WakeVerdict::DiscardedPaused) {
            LastWakeVerdict.store(WakeVerdict::DiscardedLinkLost);  // the pause became a loss
        }
        platform::sleepMs(2);
        MonitorPolls.look(platform::steadyNowNs());
    }
    // One last look: the benchmark driver raises StopFlag as soon as it sees the displays
    // of the last wake come on, usually before this thread's next sample, whose change
    // line and wake latency would otherwise be lost. The last wake's phases are printed
    // before the thread returns, and so before the teardown.
    reportDstatChange(link, previous, pending);
    if (pending.requestNs != 0) printWakePhases(link, pending);
}

namespace {

// A teardown deadline that starts during the sleep is seen within this long.
constexpr int64_t kDeadlineCheckNs = 100000000;

// Sleeps at least one second of steady-clock time; while a teardown deadline runs (a close,
// log-off or shut-down), only until it: the teardown joins this thread.
void sleepOneSecond() {
    const int64_t until = platform::steadyNowNs() + 1000000000;
    for (int64_t now = platform::steadyNowNs(); now < until; now = platform::steadyNowNs()) {
        const uint32_t ms =
            platform::teardownWaitMs(uint32_t((std::min(until - now, kDeadlineCheckNs) + 999999) / 1000000));
        if (ms == 0) return;
        platform::sleepMs(ms);
    }
}

}  // namespace

void statusLineLoop(PresentBackend& presenter, McuProx& link, const bool& proxUp) {
    if (StopFlag.load()) return;
    uint64_t previousFrames = 0;
    for (;;) {
        sleepOneSecond();
        const PresentStats stats = presenter.stats();
        const platform::LocalTime t = platform::localTimeNow();
        const uint16_t dstat = link.dstat.load(std::memory_order_relaxed);
        const char* suffix = stats.freeRunning ? lines::kFreeRunSuffix : "";
        const unsigned distance = proxUp ? link.distance.load(std::memory_order_relaxed) : 0u;
        const char* prox = !proxUp                                     ? lines::kProxNotAvailable
                           : link.worn.load(std::memory_order_relaxed) ? lines::kWorn
                                                                       : lines::kAway;
        const double fps = static_cast<double>(stats.frames - previousFrames);
        lines::print(lines::kStatus, t.hour, t.minute, t.second, t.millisecond, fps, prox, distance, dstat,
                     dstat & 1, (dstat >> 1) & 1, (dstat >> 3) & 1, suffix);
        if (StopFlag.load()) return;
        previousFrames = stats.frames;
    }
}

}  // namespace corva
