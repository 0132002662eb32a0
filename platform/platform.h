// The operating-system seam: everything above this header is shared between the
// Windows program and the Linux build. One implementation file per platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::platform {

// Opaque OS object: a Win32 HANDLE on Windows, a waitable object of our own elsewhere.
using OsHandle = void*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Monotonic clock in nanoseconds (the performance counter on Windows).
int64_t steadyNowNs();

struct LocalTime {
    unsigned hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localTimeNow();

void sleepMs(uint32_t ms);
// Processor pause hint for short spin waits.
void cpuPause();

enum class WaitResult { Signalled, TimedOut, Failed };

// Unnamed event with default security.
OsHandle createEvent(bool manualReset, bool initiallySignalled);
bool setEvent(OsHandle event);
bool resetEvent(OsHandle event);
// Waits on an event, a waitable timer or any other handle the platform can wait on.
WaitResult waitFor(OsHandle handle, uint32_t timeoutMs);
void closeHandle(OsHandle handle);
// The calling thread's last system error code (GetLastError, errno), for failure lines.
unsigned long lastSystemError();

// Manual-reset high-resolution waitable timer; nullptr when the system has none.
OsHandle createHighResolutionTimer();
// Arms the timer; a negative due time is relative, in 100 ns units (as SetWaitableTimer).
bool setTimer(OsHandle timer, int64_t dueTime100ns);

// Holds the system timer at its finest resolution (1 ms) while it lives, for every thread
// of the process: at Windows' default tick (about 15.6 ms, per process since Windows 10
// 2004) a 2 ms sleep lasts about 16 ms. Does nothing where sleeps are precise anyway.
class FineTimerResolution {
  public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

    bool raised() const { return raised_; }

  private:
    bool raised_ = false;
};

// Results are ignored by callers: the loop runs with whatever the thread had before.
bool raiseThreadPriorityToHighest();
bool disableExecutionSpeedThrottling();
// CPU time consumed by the calling thread, in nanoseconds (for benchmarks).
int64_t threadCpuTimeNs();

// Console control: types 0, 1 and 2 are Ctrl+C, Ctrl+Break and close (SIGINT, SIGQUIT, and
// SIGHUP or SIGTERM on POSIX); 5 and 6 are log-off and shut-down. The handler returns whether
// it handled the event. Windows ends the process as soon as the handler returns from close,
// log-off or shut-down, so for those the handler is held until teardownFinished() is called,
// for at most kTeardownHoldMs (the system allows about five seconds). A Windows program that
// has loaded user32 (D3D12 does) learns of log-off and shut-down only through the session-end
// messages to its top-level windows: installing the handler also opens a hidden window, on a
// thread of its own, that passes them on as types 5 and 6 and is held the same way.
using ConsoleHandler = bool (*)(unsigned long ctrlType);
bool installConsoleHandler(ConsoleHandler handler);
constexpr uint32_t kTeardownHoldMs = 4500;
// The control types that ask the program to stop.
constexpr bool isStopEvent(unsigned long ctrlType) {
    return ctrlType <= 2 || ctrlType == 5 || ctrlType == 6;
}
// The program has printed its last line, restored the headset, released the display and
// closed the link: a held handler may return, and the system may end the process.
void teardownFinished();

// Libraries loaded by name come from the system directory only, never from the program's
// folder or the current directory (Windows; nothing to do elsewhere).
void restrictLibrarySearchToSystem();

// The classic console's QuickEdit mode suspends every thread that prints while the user
// selects text with the mouse: switched off for the run. restoreConsoleModes() puts the
// console's input mode back (also run at exit); both do nothing without a console.
bool switchQuickEditOff();
void restoreConsoleModes();

// Standard output and error unbuffered; on Windows the console shows UTF-8 text
// (restored to its previous code page at exit).
void initConsoleOutput();

}  // namespace corva::platform
