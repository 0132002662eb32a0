#include "app/benchmark.h"

#include "app/shared_state.h"
#include "platform/platform.h"

#include <cstdio>

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

bool displaysOn(const McuProx& link) {
    return (link.dstat.load(std::memory_order_relaxed) & 1) != 0;
}

// Until the telemetry shows the displays on; a fixed half second without the link.
void waitForDisplaysOn(const bool& proxUp, const McuProx& link) {
    if (!proxUp) {
        timedWait(0.5);
        return;
    }
    while (!displaysOn(link) && !StopFlag.load()) platform::sleepMs(2);
}

}  // namespace

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds) {
    waitForDisplaysOn(proxUp, link);
    for (int32_t n = 1; n <= cycles; ++n) {
        if (StopFlag.load()) break;
        std::printf("CYCLE %d/%d\n", n, cycles);
        timedWait(activeSeconds);
        if (StopFlag.load()) break;

        if (doze) {
            EventMarker("DOZE_SLEEP_REQUEST");
            link.setDoze(true);
            if (proxUp)
                while (displaysOn(link) && !StopFlag.load()) platform::sleepMs(2);
            EventMarker("DOZE_ASLEEP");
        } else {
            EventMarker("PARK_REQUEST");
            presenter.setDisplayWanted(false);
            while (!presenter.isParked() && !StopFlag.load()) platform::sleepMs(2);
            EventMarker("PARK_DONE");
        }

        timedWait(holdSeconds);
        if (StopFlag.load()) break;

        WakeRequestStamp.exchange(platform::steadyNowNs());
        EventMarker("WAKE_REQUEST");
        if (doze)
            link.setDoze(false);
        else
            presenter.setDisplayWanted(true);
        waitForDisplaysOn(proxUp, link);
    }
    // Also after a complete run: wakes displays left dozing by a loop that ended early.
    if (doze && proxUp) link.setDoze(false);
    presenter.requestStop();
    StopFlag.exchange(true);
}

}  // namespace corva
