#include "app/benchmark.h"

#include "app/shared_state.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
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

bool displaysOn(const McuProx& link) {
    return (link.dstat.load(std::memory_order_relaxed) & 1) != 0;
}

enum class Waited { Done, Stopped, LinkLost };

// Whether the link's dstat still speaks for this cycle: not while the device is gone (it
// keeps its last value) and not after an outage since mark() (a replugged MCU powers up
// with doze off, so the displays may have come on for that reason).
class LinkWatch {
  public:
    LinkWatch(const bool& proxUp, const McuProx& link) : proxUp_(proxUp), link_(link) {}
    void mark() { losses_ = link_.linkLosses(); }
    bool lost() const { return proxUp_ && (link_.deviceGone() || link_.linkLosses() != losses_); }

  private:
    const bool& proxUp_;
    const McuProx& link_;
    uint32_t losses_ = 0;
};

// Until the telemetry shows the displays on; a fixed half second without the link.
Waited waitForDisplaysOn(const bool& proxUp, const McuProx& link, const LinkWatch& watch) {
    if (!proxUp) {
        timedWait(0.5);
        return StopFlag.load() ? Waited::Stopped : Waited::Done;
    }
    for (;;) {
        if (StopFlag.load()) return Waited::Stopped;
        if (watch.lost()) return Waited::LinkLost;
        if (displaysOn(link)) return Waited::Done;
        platform::sleepMs(2);
    }
}

Waited waitForDisplaysOff(const McuProx& link, const LinkWatch& watch) {
    for (;;) {
        if (StopFlag.load()) return Waited::Stopped;
        if (watch.lost()) return Waited::LinkLost;
        if (!displaysOn(link)) return Waited::Done;
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
        if (bringUp())
            for (int32_t n = 1; n <= cycles_ && !StopFlag.load() && why_ == nullptr; ++n)
                runCycle(n, activeSeconds, holdSeconds);
        // Also after a complete run: wakes displays left dozing by a loop that ended early.
        if (doze_ && proxUp_) link_.setDoze(false);
        if (completed_ < cycles_) {
            const bool allTried = completed_ + abandoned_ == cycles_;
            lines::print(lines::kBenchIncomplete, completed_, cycles_, abandoned_, allTried ? "" : "; ",
                         allTried          ? ""
                         : why_ != nullptr ? why_
                                           : "stopped before the cycles were done");
        }
        presenter_.requestStop();
        StopFlag.exchange(true);
    }

  private:
    // Link there and displays on: where every cycle starts. False ends the benchmark.
    // `wakeDoze`: after an abandoned doze cycle the displays may still be dozing.
    bool bringUp(bool wakeDoze = false) {
        if (!awaitLink(proxUp_, link_, kLinkReturnSeconds)) {
            if (!StopFlag.load()) why_ = "ended early: proximity link lost and not back";
            return false;
        }
        watch_.mark();
        if (wakeDoze) link_.setDoze(false);
        switch (waitForDisplaysOn(proxUp_, link_, watch_)) {
            case Waited::Done:
                return true;
            case Waited::LinkLost:
                why_ = "ended early: proximity link lost again";
                return false;
            case Waited::Stopped:
                return false;
        }
        return false;
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
                const Waited off = waitForDisplaysOff(link_, watch_);
                if (off == Waited::Stopped) return;
                if (off == Waited::LinkLost)
                    return abandon(n, "proximity link lost before the displays went off");
            }
            EventMarker(lines::kDozeAsleep);
        } else {
            EventMarker(lines::kParkRequest);
            presenter_.setDisplayWanted(false);
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
        WakeRequestStamp.exchange(platform::steadyNowNs());
        EventMarker(lines::kWakeRequest);
        wake();
        switch (waitForDisplaysOn(proxUp_, link_, watch_)) {
            case Waited::Done:
                completed_ += 1;
                return;
            case Waited::LinkLost:  // the monitor has dropped the wake's stamp, and says so
                return abandon(n, "proximity link lost before the displays came on");
            case Waited::Stopped:
                return;
        }
    }

    // A doze wake's steps are the wake command (the present loop stamps a park wake's).
    void wake() {
        if (doze_) {
            WakePhaseStamps.reactNs.store(platform::steadyNowNs());
            link_.setDoze(false);
            WakePhaseStamps.powerNs.store(platform::steadyNowNs());
        } else {
            presenter_.setDisplayWanted(true);
        }
    }

    // The cycle cannot be measured: say why, wake the displays without a marker or a
    // latency, and carry on with the next cycle once the link and the displays are back.
    void abandon(int32_t n, const char* reason) {
        lines::print(lines::kCycleAbandoned, n, cycles_, reason);
        abandoned_ += 1;
        if (!doze_) presenter_.setDisplayWanted(true);
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
    const char* why_ = nullptr;  // set when the driver itself ends the cycles early
};

}  // namespace

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds) {
    BenchmarkDriver driver(proxUp, link, cycles, doze, presenter);
    driver.run(activeSeconds, holdSeconds);
}

}  // namespace corva
