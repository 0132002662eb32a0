// The run asks for 1 ms timer resolution rather than moving every wait onto a
// high-resolution waitable timer: the monitor, benchmark, parked and self-pacing waits are
// plain sleeps on several threads, and a run lasts seconds, so the extra power is brief.
#include "platform/timer_resolution_win32.h"

#include "platform/platform.h"
#include "platform/system_library_win32.h"

#include <mmsystem.h>

namespace corva::platform {

namespace {

constexpr UINT kFinestPeriodMs = 1;

// From Windows 11 a process whose windows are all invisible (the session-end window is never
// shown) is not guaranteed the resolution it asks for, and may be slowed down: the process
// opts out of both, before it asks.
void keepTimerResolutionAndSpeed(const TimerResolutionCalls& calls) {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask =
        PROCESS_POWER_THROTTLING_EXECUTION_SPEED | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;  // neither throttled
    // Older systems refuse the class: the resolution is then theirs anyway.
    calls.setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state));
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

FineTimerResolution::~FineTimerResolution() {
    if (raised_) timerResolutionCalls().endPeriod(kFinestPeriodMs);
}

}  // namespace corva::platform
