// The run asks for 1 ms timer resolution rather than moving every wait onto a
// high-resolution waitable timer: the monitor, benchmark, parked and self-pacing waits are
// plain sleeps on several threads, and a run lasts seconds, so the extra power is brief.
#include "platform/timer_resolution_win32.h"

#include "lines/printed_lines.h"
#include "platform/line_output.h"
#include "platform/platform.h"
#include "platform/system_library_win32.h"

#include <mmsystem.h>

#include <atomic>

namespace corva::platform {

namespace {

constexpr UINT kFinestPeriodMs = 1;

// Bits: asked, execution speed, timer resolution (a word: a three-byte atomic needs a lock).
enum : unsigned { kAsked = 1, kExecutionSpeed = 2, kTimerResolution = 4 };
std::atomic<unsigned> gOptOuts{0};

bool optOut(const TimerResolutionCalls& calls, ULONG controlMask) {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = controlMask;
    state.StateMask = 0;  // not throttled
    return calls.setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state)) !=
           FALSE;
}

// From Windows 11 a process whose windows are all invisible (the session-end window is never
// shown) is not guaranteed the resolution it asks for, and may be slowed down: the process
// opts out of both, before it asks. A system that does not know the timer flag refuses the
// whole call: execution speed is then asked for alone, so the threads still run unthrottled.
void keepTimerResolutionAndSpeed(const TimerResolutionCalls& calls) {
    PowerThrottlingOptOuts held;
    held.asked = true;
    if (optOut(calls,
               PROCESS_POWER_THROTTLING_EXECUTION_SPEED | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION)) {
        held.executionSpeed = held.timerResolution = true;
    } else {
        const unsigned long bothRefused = GetLastError();
        held.executionSpeed = optOut(calls, PROCESS_POWER_THROTTLING_EXECUTION_SPEED);
        if (held.executionSpeed)
            printLine(lines::kTimerThrottlingOptOutRefused, bothRefused);
        else
            printLine(lines::kThrottlingOptOutsRefused, bothRefused,
                      static_cast<unsigned long>(GetLastError()));
    }
    gOptOuts.store(kAsked | (held.executionSpeed ? kExecutionSpeed : 0u) |
                   (held.timerResolution ? kTimerResolution : 0u));
}

}  // namespace

TimerResolutionCalls systemTimerResolutionCalls() {
    static const TimerResolutionCalls calls = [] {
        TimerResolutionCalls c;
        c.setProcessInformation = SetProcessInformation;
        c.beginPeriod = systemFunction<decltype(c.beginPeriod)>(L"winmm.dll", "timeBeginPeriod");
        c.endPeriod = systemFunction<decltype(c.endPeriod)>(L"winmm.dll", "timeEndPeriod");
        if (c.beginPeriod == nullptr || c.endPeriod == nullptr) c.beginPeriod = c.endPeriod = nullptr;
        return c;
    }();
    return calls;
}

TimerResolutionCalls& timerResolutionCalls() {
    static TimerResolutionCalls calls = systemTimerResolutionCalls();
    return calls;
}

FineTimerResolution::FineTimerResolution() {
    const TimerResolutionCalls& calls = timerResolutionCalls();
    if (calls.beginPeriod == nullptr) return;
    keepTimerResolutionAndSpeed(calls);
    raised_ = calls.beginPeriod(kFinestPeriodMs) == TIMERR_NOERROR;
}

PowerThrottlingOptOuts powerThrottlingOptOuts() {
    const unsigned held = gOptOuts.load();
    return {(held & kAsked) != 0, (held & kExecutionSpeed) != 0, (held & kTimerResolution) != 0};
}

FineTimerResolution::~FineTimerResolution() {
    if (raised_) timerResolutionCalls().endPeriod(kFinestPeriodMs);
}

}  // namespace corva::platform
