#include "app/benchmark_driver.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"

namespace corva {

namespace {

// How long the driver waits, after seeing the link lost during a wake, for the monitor's
// verdict on it (the monitor looks every 2 ms).
constexpr int64_t kVerdictWaitNs = 200000000;
// How long the end of a cycle benchmark waits for the present loop to power the panels on
// after the last wake request (it polls every 50 ms).
constexpr int64_t kUnparkWaitNs = 1000000000;

constexpr int64_t nanoseconds(double seconds) {
    return static_cast<int64_t>(seconds * 1e9);
}

enum class Waited { Done, Stopped, LinkLost, Discarded, TimedOut };

class BenchmarkDriver {
  public:
    BenchmarkDriver(const BenchSeams& seams, const BenchPlan& plan)
        : clock_(seams.clock),
          link_(seams.link),
          proxUp_(seams.proxUp),
          presenter_(seams.presenter),
          shared_(seams.shared),
          plan_(plan) {}

    void run() {
        if (bringUp()) {
            // After the fixed first wait: just before the first cycle.
            if (!proxUp_)
                lines::print(lines::kBenchNote, plan_.doze ? lines::kNoLinkDoze : lines::kNoLinkCycle);
            for (int32_t n = 1; n <= plan_.cycles && !stopped() && why_ == nullptr; ++n) runCycle(n);
        }
        // Also after a complete run: wakes displays left dozing by a loop that ended early.
        if (plan_.doze && proxUp_) link_.setDoze(false);
        if (completed_ < plan_.cycles) {
            const bool allTried = completed_ + abandoned_ == plan_.cycles;
            lines::print(lines::kBenchIncomplete, completed_, plan_.cycles, abandoned_, allTried ? "" : "; ",
                         allTried          ? ""
                         : why_ != nullptr ? why_
                                           : "stopped before the cycles were done");
        }
        awaitUnparked();
        presenter_.requestStop();
        shared_.stop.exchange(true);
    }

  private:
    bool stopped() const { return shared_.stop.load(); }

    // Waits `seconds` or until the stop, whichever comes first.
    void timedWait(double seconds) {
        const int64_t deadline = clock_.nowNs() + nanoseconds(seconds);
        while (!stopped() && clock_.nowNs() < deadline) clock_.sleepMs(5);
    }

    // Whether the link's dstat still speaks for this cycle: not while the device is gone
    // (it keeps its last value) and not after an outage since mark() (a replugged MCU
    // powers up with doze off, so the displays may have come on for that reason).
    void mark() {
        losses_ = link_.linkLosses();
        sinceNs_ = clock_.nowNs();
    }
    bool linkLost() const { return proxUp_ && (link_.deviceGone() || link_.linkLosses() != losses_); }

    // The displays on or off as a report taken after mark() shows them: a dstat from before
    // (the link keeps its last word through a pause or an outage) says nothing about a request.
    bool displaysSeen(bool on) const {
        const bool lit = (link_.dstat() & 1) != 0;
        return lit == on && link_.lastReportNs() > sinceNs_;
    }

    // Until a report after mark() shows the displays on (or off), at most `limitSeconds`;
    // a fixed wait for "on" without the link.
    Waited waitForDisplays(bool on, double limitSeconds = 0.0) {
        if (!proxUp_) {
            timedWait(kNoLinkDisplaysOnSeconds);
            return stopped() ? Waited::Stopped : Waited::Done;
        }
        const int64_t deadline = limitSeconds > 0.0 ? clock_.nowNs() + nanoseconds(limitSeconds) : 0;
        for (;;) {
            if (stopped()) return Waited::Stopped;
            if (linkLost()) return Waited::LinkLost;
            if (displaysSeen(on)) return Waited::Done;
            if (deadline != 0 && clock_.nowNs() >= deadline) return Waited::TimedOut;
            clock_.sleepMs(2);
        }
    }

    // After a wake request: the monitor's verdict decides the cycle. Measured: done.
    // Discarded for a pause: done once a later report shows the displays on (the monitor
    // said why there is no latency). The link lost: the monitor decides within a poll
    // whether the displays-on change came first (measured) or not (the cycle is abandoned).
    Waited waitForWake() {
        if (!proxUp_) return waitForDisplays(true);
        for (;;) {
            if (stopped()) return Waited::Stopped;
            const WakeVerdict verdict = shared_.verdict.load();
            if (verdict == WakeVerdict::Measured) return Waited::Done;
            if (verdict == WakeVerdict::DiscardedLinkLost) return Waited::LinkLost;
            if (linkLost()) {
                const int64_t until = clock_.nowNs() + kVerdictWaitNs;
                while (shared_.verdict.load() == WakeVerdict::Pending && clock_.nowNs() < until && !stopped())
                    clock_.sleepMs(2);
                return shared_.verdict.load() == WakeVerdict::Measured ? Waited::Done : Waited::LinkLost;
            }
            if (verdict == WakeVerdict::DiscardedPaused && displaysSeen(true)) return Waited::Discarded;
            clock_.sleepMs(2);
        }
    }

    // False when the link stays gone for `seconds` or a stop comes first.
    bool awaitLink(double seconds) {
        if (!proxUp_) return true;
        const int64_t deadline = clock_.nowNs() + nanoseconds(seconds);
        while (link_.deviceGone()) {
            if (stopped() || clock_.nowNs() >= deadline) return false;
            clock_.sleepMs(5);
        }
        return true;
    }

    // Link there and displays on: where every cycle starts. False ends the benchmark.
    // `wakeDoze`: after an abandoned doze cycle the displays may still be dozing. A link
    // lost again while waiting for the displays is waited for again, each time as long.
    bool bringUp(bool wakeDoze = false) {
        for (;;) {
            if (!awaitLink(kLinkReturnSeconds)) {
                if (!stopped()) why_ = "ended early: proximity link lost and not back";
                return false;
            }
            mark();
            if (wakeDoze) link_.setDoze(false);
            switch (waitForDisplays(true)) {
                case Waited::Done:
                case Waited::Discarded:
                case Waited::TimedOut:
                    return true;
                case Waited::LinkLost:
                    clock_.sleepMs(5);
                    continue;
                case Waited::Stopped:
                    return false;
            }
        }
    }

    void runCycle(int32_t n) {
        lines::print(lines::kCycle, n, plan_.cycles);
        timedWait(plan_.activeSeconds);
        if (stopped()) return;
        mark();
        if (linkLost()) return abandon(n, "proximity link lost before the displays were taken down");

        if (plan_.doze) {
            EventMarker(lines::kDozeSleepRequest);
            const bool sent = link_.setDoze(true);
            if (proxUp_) {
                if (!sent) return abandon(n, "doze command not accepted");
                switch (waitForDisplays(false, kDozeOffWaitSeconds)) {
                    case Waited::Stopped:
                        return;
                    case Waited::LinkLost:
                        return abandon(n, "proximity link lost before the displays went off");
                    case Waited::TimedOut:
                        return abandon(n, lines::kDozeNotOff);
                    case Waited::Done:
                    case Waited::Discarded:
                        break;
                }
            }
            EventMarker(lines::kDozeAsleep);
        } else {
            EventMarker(lines::kParkRequest);
            want(false);
            while (!presenter_.isParked() && !stopped()) clock_.sleepMs(2);
            if (!presenter_.isParked()) return;  // stopped before the panels were off
            EventMarker(lines::kParkDone);
        }

        timedWait(plan_.holdSeconds);
        if (stopped()) return;
        if (linkLost())
            return abandon(
                n, plan_.doze ? "proximity link lost while dozing" : "proximity link lost while parked");

        shared_.wakeStamps.clear();
        shared_.verdict.store(WakeVerdict::Pending);
        mark();
        shared_.wakeRequestNs.exchange(clock_.nowNs());
        EventMarker(lines::kWakeRequest);
        wake();
        switch (waitForWake()) {
            case Waited::Done:
            case Waited::Discarded:  // the monitor said why there is no latency
                completed_ += 1;
                return;
            case Waited::LinkLost:  // the monitor has dropped the wake's stamp, and says so
                return abandon(n, "proximity link lost before the displays came on");
            case Waited::Stopped:
            case Waited::TimedOut:
                return;
        }
    }

    void want(bool on) {
        panelsWanted_ = on;
        presenter_.setDisplayWanted(on);
    }

    // A doze wake's steps are the wake command (the present loop stamps a park wake's).
    void wake() {
        if (plan_.doze) {
            shared_.wakeStamps.reactNs.store(clock_.nowNs());
            link_.setDoze(false);
            shared_.wakeStamps.powerNs.store(clock_.nowNs());
        } else {
            want(true);
        }
    }

    // Panels asked back on are on before the run ends: a stop seen while parked would
    // otherwise leave them off (the loop notices a wake only every 50 ms).
    void awaitUnparked() {
        if (plan_.doze) return;
        const int64_t until = clock_.nowNs() + kUnparkWaitNs;
        while (panelsWanted_ && presenter_.isParked() && clock_.nowNs() < until) clock_.sleepMs(2);
    }

    // The cycle cannot be measured: say why, wake the displays without a marker or a
    // latency, and carry on with the next cycle once the link and the displays are back.
    void abandon(int32_t n, const char* reason) {
        lines::print(lines::kCycleAbandoned, n, plan_.cycles, reason);
        abandoned_ += 1;
        if (!plan_.doze) want(true);
        bringUp(plan_.doze);
    }

    BenchClock& clock_;
    BenchLink& link_;
    const bool proxUp_;
    ParkControl& presenter_;
    const BenchShared shared_;
    const BenchPlan plan_;
    uint32_t losses_ = 0;
    int64_t sinceNs_ = 0;
    int32_t completed_ = 0;
    int32_t abandoned_ = 0;
    bool panelsWanted_ = true;
    const char* why_ = nullptr;  // set when the driver itself ends the cycles early
};

}  // namespace

void runBenchmark(const BenchSeams& seams, const BenchPlan& plan) {
    BenchmarkDriver(seams, plan).run();
}

}  // namespace corva
