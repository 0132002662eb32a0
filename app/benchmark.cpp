#include "app/benchmark.h"

#include "app/shared_state.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/run_figures.h"
#include "platform/platform.h"

namespace corva {

void timedWait(double seconds) {
    const double deadline = static_cast<double>(platform::steadyNowNs()) + seconds * 1000000000.0;
    if (StopFlag.load()) return;
    while (static_cast<double>(platform::steadyNowNs()) < deadline) {
        platform::sleepMs(5);
        if (StopFlag.load()) return;
    }
}

namespace {

// How long an abandoned cycle waits for the proximity link to come back: one reconnect
// attempt (every two seconds plus the probe) with room to spare.
constexpr double kLinkReturnSeconds = 5.0;

// Ten reports at the 50 ms telemetry interval: the link's dstat is then stale.
constexpr int64_t kTelemetryPauseNs = 500000000;
// How long the driver waits, after seeing the link lost during a wake, for the monitor's
// verdict on it (the monitor looks every 2 ms).
constexpr int64_t kVerdictWaitNs = 200000000;
// How long the end of a cycle benchmark waits for the present loop to power the panels on
// after the last wake request (it polls every 50 ms).
constexpr int64_t kUnparkWaitNs = 1000000000;

// The displays on or off as a report taken after `sinceNs` shows them: a dstat from before
// (the link keeps its last word through a pause or an outage) says nothing about a request.
bool displaysSeen(const McuProx& link, bool on, int64_t sinceNs) {
    const bool lit = (link.dstat.load(std::memory_order_relaxed) & 1) != 0;
    return lit == on && link.lastReportNs() > sinceNs;
}

enum class Waited { Done, Stopped, LinkLost, Discarded };

// Whether the link's dstat still speaks for this cycle: not while the device is gone (it
// keeps its last value) and not after an outage since mark() (a replugged MCU powers up
// with doze off, so the displays may have come on for that reason).
class LinkWatch {
  public:
    LinkWatch(const bool& proxUp, const McuProx& link) : proxUp_(proxUp), link_(link) {}
    void mark() {
        losses_ = link_.linkLosses();
        sinceNs_ = platform::steadyNowNs();
    }
    bool lost() const { return proxUp_ && (link_.deviceGone() || link_.linkLosses() != losses_); }
    int64_t sinceNs() const { return sinceNs_; }

  private:
    const bool& proxUp_;
    const McuProx& link_;
    uint32_t losses_ = 0;
    int64_t sinceNs_ = 0;
};

// Until a report after mark() shows the displays on (or off); a fixed half second for "on"
// without the link.
Waited waitForDisplays(bool on, const bool& proxUp, const McuProx& link, const LinkWatch& watch) {
    if (!proxUp) {
        timedWait(static_cast<double>(run::kFixedDisplaysOnWaitMs) / 1000.0);
        return StopFlag.load() ? Waited::Stopped : Waited::Done;
    }
    for (;;) {
        if (StopFlag.load()) return Waited::Stopped;
        if (watch.lost()) return Waited::LinkLost;
        if (displaysSeen(link, on, watch.sinceNs())) return Waited::Done;
        platform::sleepMs(2);
    }
}

// After a wake request: the monitor's verdict decides the cycle. Measured: done. Discarded
// for a pause: done once a later report shows the displays on (the monitor said why there
// is no latency). The link lost: the monitor decides within a poll whether the displays-on
// change came first (measured) or not (the cycle is abandoned).
Waited waitForWake(const bool& proxUp, const McuProx& link, const LinkWatch& watch) {
    if (!proxUp) return waitForDisplays(true, proxUp, link, watch);
    for (;;) {
        if (StopFlag.load()) return Waited::Stopped;
        const WakeVerdict verdict = LastWakeVerdict.load();
        if (verdict == WakeVerdict::Measured) return Waited::Done;
        if (verdict == WakeVerdict::DiscardedLinkLost) return Waited::LinkLost;
        if (watch.lost()) {
            const int64_t until = platform::steadyNowNs() + kVerdictWaitNs;
            while (LastWakeVerdict.load() == WakeVerdict::Pending && platform::steadyNowNs() < until &&
                   !StopFlag.load())
                platform::sleepMs(2);
            return LastWakeVerdict.load() == WakeVerdict::Measured ? Waited::Done : Waited::LinkLost;
        }
        if (verdict == WakeVerdict::DiscardedPaused && displaysSeen(link, true, watch.sinceNs()))
            return Waited::Discarded;
        platform::sleepMs(2);
    }
}

// False when the link stays gone for `seconds` or a stop comes first.
bool awaitLink(const bool& proxUp, const McuProx& link, double seconds) {
    if (!proxUp) return true;
    const int64_t deadline = platform::steadyNowNs() + static_cast<int64_t>(seconds * 1e9);
    while (link.deviceGone()) {
        if (StopFlag.load() || platform::steadyNowNs() >= deadline) return false;
        platform::sleepMs(5);
    }
    return true;
}

// Said once at the start when there is no link: the markers still follow (fixed waits
// stand in for the telemetry), but nothing is measured, and in doze mode nothing dozes.
void sayNoLink(bool doze) {
    lines::print(lines::kBenchNote, doze ? lines::kNoLinkDoze : lines::kNoLinkCycle);
}

class BenchmarkDriver {
  public:
    BenchmarkDriver(const bool& proxUp, McuProx& link, int32_t cycles, bool doze, ParkControl& presenter)
        : proxUp_(proxUp),
          link_(link),
          cycles_(cycles),
          doze_(doze),
          presenter_(presenter),
          watch_(proxUp, link) {}

    void run(double activeSeconds, double holdSeconds) {
        if (bringUp()) {
            if (!proxUp_) sayNoLink(doze_);  // after the fixed first wait: just before the first cycle
            for (int32_t n = 1; n <= cycles_ && !StopFlag.load() && why_ == nullptr; ++n)
                runCycle(n, activeSeconds, holdSeconds);
        }
        // Also after a complete run: wakes displays left dozing by a loop that ended early.
        if (doze_ && proxUp_) link_.setDoze(false);
        if (completed_ < cycles_) {
            const bool allTried = completed_ + abandoned_ == cycles_;
            lines::print(lines::kBenchIncomplete, completed_, cycles_, abandoned_, allTried ? "" : "; ",
                         allTried          ? ""
                         : why_ != nullptr ? why_
                                           : "stopped before the cycles were done");
        }
        awaitUnparked();
        presenter_.requestStop();
        StopFlag.exchange(true);
    }

  private:
    // Link there and displays on: where every cycle starts. False ends the benchmark.
    // `wakeDoze`: after an abandoned doze cycle the displays may still be dozing. A link
    // lost again while waiting for the displays is waited for again, each time as long.
    bool bringUp(bool wakeDoze = false) {
        for (;;) {
            if (!awaitLink(proxUp_, link_, kLinkReturnSeconds)) {
                if (!StopFlag.load()) why_ = "ended early: proximity link lost and not back";
                return false;
            }
            watch_.mark();
            if (wakeDoze) link_.setDoze(false);
            switch (waitForDisplays(true, proxUp_, link_, watch_)) {
                case Waited::Done:
                case Waited::Discarded:
                    return true;
                case Waited::LinkLost:
                    platform::sleepMs(5);
                    continue;
                case Waited::Stopped:
                    return false;
            }
        }
    }

    void runCycle(int32_t n, double activeSeconds, double holdSeconds) {
        lines::print(lines::kCycle, n, cycles_);
        timedWait(activeSeconds);
        if (StopFlag.load()) return;
        watch_.mark();
        if (watch_.lost()) return abandon(n, "proximity link lost before the displays were taken down");

        if (doze_) {
            EventMarker(lines::kDozeSleepRequest);
            const bool sent = link_.setDoze(true);
            if (proxUp_) {
                if (!sent) return abandon(n, "doze command not accepted");
                const Waited off = waitForDisplays(false, proxUp_, link_, watch_);
                if (off == Waited::Stopped) return;
                if (off == Waited::LinkLost)
                    return abandon(n, "proximity link lost before the displays went off");
            }
            EventMarker(lines::kDozeAsleep);
        } else {
            EventMarker(lines::kParkRequest);
            want(false);
            while (!presenter_.isParked() && !StopFlag.load()) platform::sleepMs(2);
            if (!presenter_.isParked()) return;  // stopped before the panels were off
            EventMarker(lines::kParkDone);
        }

        timedWait(holdSeconds);
        if (StopFlag.load()) return;
        if (watch_.lost())
            return abandon(n,
                           doze_ ? "proximity link lost while dozing" : "proximity link lost while parked");

        WakePhaseStamps.clear();
        LastWakeVerdict.store(WakeVerdict::Pending);
        watch_.mark();
        WakeRequestStamp.exchange(platform::steadyNowNs());
        EventMarker(lines::kWakeRequest);
        wake();
        switch (waitForWake(proxUp_, link_, watch_)) {
            case Waited::Done:
            case Waited::Discarded:  // the monitor said why there is no latency
                completed_ += 1;
                return;
            case Waited::LinkLost:  // the monitor has dropped the wake's stamp, and says so
                return abandon(n, "proximity link lost before the displays came on");
            case Waited::Stopped:
                return;
        }
    }

    void want(bool on) {
        panelsWanted_ = on;
        presenter_.setDisplayWanted(on);
    }

    // A doze wake's steps are the wake command (the present loop stamps a park wake's).
    void wake() {
        if (doze_) {
            WakePhaseStamps.reactNs.store(platform::steadyNowNs());
            link_.setDoze(false);
            WakePhaseStamps.powerNs.store(platform::steadyNowNs());
        } else {
            want(true);
        }
    }

    // Panels asked back on are on before the run ends: a stop seen while parked would
    // otherwise leave them off (the loop notices a wake only every 50 ms).
    void awaitUnparked() {
        if (doze_) return;
        const int64_t until = platform::steadyNowNs() + kUnparkWaitNs;
        while (panelsWanted_ && presenter_.isParked() && platform::steadyNowNs() < until)
            platform::sleepMs(2);
    }

    // The cycle cannot be measured: say why, wake the displays without a marker or a
    // latency, and carry on with the next cycle once the link and the displays are back.
    void abandon(int32_t n, const char* reason) {
        lines::print(lines::kCycleAbandoned, n, cycles_, reason);
        abandoned_ += 1;
        if (!doze_) want(true);
        bringUp(doze_);
    }

    const bool& proxUp_;
    McuProx& link_;
    const int32_t cycles_;
    const bool doze_;
    ParkControl& presenter_;
    LinkWatch watch_;
    int32_t completed_ = 0;
    int32_t abandoned_ = 0;
    bool panelsWanted_ = true;
    const char* why_ = nullptr;  // set when the driver itself ends the cycles early
};

}  // namespace

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds) {
    BenchmarkDriver driver(proxUp, link, cycles, doze, presenter);
    driver.run(activeSeconds, holdSeconds);
}

}  // namespace corva
