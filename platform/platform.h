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

// The power-throttling opt-outs the process holds, asked for before the resolution is raised
// (Windows; nothing is asked elsewhere): a system that does not know the timer-resolution
// flag refuses a call that names it, and execution speed is then asked for alone.
struct PowerThrottlingOptOuts {
    bool asked = false;
    bool executionSpeed = false;
    bool timerResolution = false;
};
PowerThrottlingOptOuts powerThrottlingOptOuts();

// Results are ignored by callers: the loop runs with whatever the thread had before.
bool raiseThreadPriorityToHighest();
// The threads that time the wake figures (the display-status monitor, the telemetry reader).
// On Linux the program's GPU is a CPU renderer whose threads can take every core and hold a
// 2 ms poll off for several ms, which a GPU does not do: they get a real-time priority where
// the system grants one. Elsewhere nothing changes. Whether it was granted; callers go on
// either way.
bool raiseTimingThreadPriority();
bool disableExecutionSpeedThrottling();
// CPU time consumed by the calling thread, in nanoseconds (for benchmarks).
int64_t threadCpuTimeNs();

// Console control: types 0, 1 and 2 are Ctrl+C, Ctrl+Break and close (SIGINT, SIGQUIT, and
// SIGHUP or SIGTERM on POSIX); 5 and 6 are log-off and shut-down. The handler returns whether
// it handled the event. Windows ends the process as soon as the handler returns from close,
// log-off or shut-down, so for those the handler is held until teardownFinished() is called,
// for at most kTeardownHoldMs after a close (the system allows about five seconds), and after a
// log-off or shut-down at most sessionEndHoldMs(the user's hung-app time-out). A Windows program that
// has loaded user32 (D3D12 does) learns of log-off and shut-down only through the session-end
// messages to its top-level windows: installing the handler also opens a hidden window, on a
// thread of its own, that passes them on as types 5 and 6 and is held the same way.
using ConsoleHandler = bool (*)(unsigned long ctrlType);
// What the installation got, each with the system's error when it failed: the handler, and
// the session-end window (true where there is none to make; made once, tried again while missing).
struct StopHandlers {
    bool consoleHandler = false;
    unsigned long consoleHandlerError = 0;
    bool sessionEndWindow = false;
    unsigned long sessionEndWindowError = 0;
    bool complete() const { return consoleHandler && sessionEndWindow; }
};
StopHandlers installConsoleHandler(ConsoleHandler handler);
constexpr uint32_t kTeardownHoldMs = 4500;
// The control types that ask the program to stop.
constexpr bool isStopEvent(unsigned long ctrlType) {
    return ctrlType <= 2 || ctrlType == 5 || ctrlType == 6;
}
// The program has printed its last line, restored the headset, released the display and
// closed the link: a held handler may return, and the system may end the process.
void teardownFinished();
// Whether the run was stopped by the system rather than by its user: the console closed, a
// log-off or shut-down, a close message to the program's window (taskkill without /F).
bool stoppedBySystem();

// A stop that ends the process once the hold is over (close, log-off, shut-down) starts the
// teardown's deadline: the hold from the stop, less a reserve for what follows the last wait
// (display released, objects freed, result line written). The platform starts it where it
// holds; every teardown wait (the GPU's, the microcontroller's, the restore, the present
// loop's and the status line's) takes at most teardownWaitMs(its own limit), so the whole
// teardown fits the hold.
constexpr uint32_t kTeardownReserveMs = 500;
void startTeardownDeadline(int64_t stopNs, uint32_t holdMs = kTeardownHoldMs);
void clearTeardownDeadline();
// capMs without a deadline; otherwise the time left before it, at most capMs (0 once passed).
uint32_t teardownWaitMs(uint32_t capMs);
// The earlier of deadlineNs and the teardown's deadline, if one runs.
int64_t teardownBoundNs(int64_t deadlineNs);
// A log-off or shut-down ends a program that has not answered within the system's hung-app
// time-out, which a user may set below the default 5 s: the hold is that time-out less this
// margin, never above kTeardownHoldMs. A console close keeps kTeardownHoldMs.
constexpr uint32_t kHungAppMarginMs = 500;
uint32_t sessionEndHoldMs(uint32_t hungAppTimeoutMs);

// One run at a time on the machine: the headset belongs to the machine, not to a user's
// session. Held while the object lives (Windows: a named mutex in the Global namespace).
// The simulated programs run side by side: elsewhere it is always held.
class SingleInstance {
  public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Another run holds it: this one must touch nothing.
    bool anotherRuns() const { return anotherRuns_; }

  private:
    void* handle_ = nullptr;
    bool anotherRuns_ = false;
};

// Libraries loaded by name come from the system directory only, never from the program's
// folder or the current directory (Windows; nothing to do elsewhere). False when the system
// refused (lastSystemError() says why).
bool restrictLibrarySearchToSystem();

// The classic console's QuickEdit mode suspends every thread that prints while the user
// selects text with the mouse: switched off for the run. restoreConsoleModes() puts the
// console's input mode back (also run at exit); both do nothing without a console.
bool switchQuickEditOff();
void restoreConsoleModes();

// Standard output and error unbuffered; on Windows the console shows UTF-8 text
// (restored to its previous code page at exit).
void initConsoleOutput();

// What decides whether the program asks for a key press before it ends (close_prompt.h).
struct ConsoleFacts {
    unsigned processesOnConsole = 0;  // 0: no console
    bool inputIsConsole = false;
    bool outputIsConsole = false;
    bool errorIsConsole = false;
    bool stoppedBySystem = false;
    bool consoleWindow = false;  // the console has a window (none: CREATE_NO_WINDOW, a remote session)
    // The parent process, read through a handle to the process its id names now: the file
    // name of its image ("" when it could not be read), and whether it was created before
    // this process (an id reused by a later process is not the parent).
    char parentImage[64] = {};
    bool parentCreatedFirst = false;
    bool promptOptedOut = false;  // TESSARAY_NO_PROMPT set
};
ConsoleFacts consoleFacts();
// Waits for a key press on the console (after a prompt). Returns at once without a console.
void waitForKeyPress();

}  // namespace corva::platform
