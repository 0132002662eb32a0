// The system calls behind FineTimerResolution, in a table a test may replace to watch them.
// winmm.dll is not a known DLL: imported, a copy beside the program would be loaded before
// main, so timeBeginPeriod and timeEndPeriod come from the system directory at first use.
#pragma once

#include <windows.h>

namespace corva::platform {

struct TimerResolutionCalls {
    BOOL(WINAPI* setProcessInformation)
    (HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information, DWORD size) = nullptr;
    UINT(WINAPI* beginPeriod)(UINT periodMs) = nullptr;  // null when winmm.dll cannot be loaded
    UINT(WINAPI* endPeriod)(UINT periodMs) = nullptr;
};

// The system's own, resolved once.
TimerResolutionCalls systemTimerResolutionCalls();
// The calls FineTimerResolution makes from now on (the system's unless a test replaced them).
TimerResolutionCalls& timerResolutionCalls();

}  // namespace corva::platform
