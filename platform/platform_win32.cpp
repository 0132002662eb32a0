#include "platform/platform.h"

#include <windows.h>
#include <immintrin.h>

#include <cstdio>
#include <cstdlib>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace corva::platform {

namespace {

int64_t counterFrequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return int64_t(f.QuadPart);
    }();
    return frequency;
}

}  // namespace

int64_t steadyNowNs() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    const int64_t f = counterFrequency();
    // Split to keep the multiplication from overflowing on long uptimes.
    return (c.QuadPart / f) * 1000000000 + (c.QuadPart % f) * 1000000000 / f;
}

LocalTime localTimeNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

void sleepMs(uint32_t ms) {
    Sleep(ms);
}

void cpuPause() {
    _mm_pause();
}

OsHandle createEvent(bool manualReset, bool initiallySignalled) {
    return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
}

bool setEvent(OsHandle event) {
    return SetEvent(event) != FALSE;
}
bool resetEvent(OsHandle event) {
    return ResetEvent(event) != FALSE;
}

WaitResult waitFor(OsHandle handle, uint32_t timeoutMs) {
    switch (WaitForSingleObject(handle, timeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            return WaitResult::Signalled;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
    }
}

void closeHandle(OsHandle handle) {
    if (handle != nullptr) CloseHandle(handle);
}

OsHandle createHighResolutionTimer() {
    return CreateWaitableTimerExW(nullptr, nullptr,
                                  CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
}

bool setTimer(OsHandle timer, int64_t dueTime100ns) {
    LARGE_INTEGER due;
    due.QuadPart = dueTime100ns;
    return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

bool raiseThreadPriorityToHighest() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != FALSE;
}

bool raiseTimingThreadPriority() {
    return true;  // the design's priorities: here a GPU draws, and the CPU is the program's
}

bool disableExecutionSpeedThrottling() {
    // Declared here: older SDK headers lack the structure.
    struct PowerThrottlingState {
        ULONG Version;
        ULONG ControlMask;
        ULONG StateMask;
    };
    static_assert(sizeof(PowerThrottlingState) == 12);
    PowerThrottlingState state{1, 1, 0};  // version 1, execution speed controlled, not throttled
    return SetThreadInformation(GetCurrentThread(),
                                static_cast<THREAD_INFORMATION_CLASS>(3 /* ThreadPowerThrottling */), &state,
                                sizeof(state)) != FALSE;
}

int64_t threadCpuTimeNs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) { return (int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) * 100;
}

void initConsoleOutput() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // The console's code page is left alone: it is the parent shell's too, and a killed run
    // would never restore it. Lines reach a console as UTF-16 (console_write_win32.cpp).
}

}  // namespace corva::platform
