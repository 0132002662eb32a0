// The run asks for 1 ms timer resolution rather than moving every wait onto a
// high-resolution waitable timer: the monitor, benchmark, parked and self-pacing waits are
// plain sleeps on several threads, and a run lasts seconds, so the extra power is brief.
#include "platform/platform.h"

#include <windows.h>
#include <mmsystem.h>

namespace corva::platform {

namespace {
constexpr UINT kFinestPeriodMs = 1;
}  // namespace

FineTimerResolution::FineTimerResolution() : raised_(timeBeginPeriod(kFinestPeriodMs) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
    if (raised_) timeEndPeriod(kFinestPeriodMs);
}

}  // namespace corva::platform
