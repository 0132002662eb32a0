// Process-wide values the run-control threads share, and the event-marker line.
#pragma once

#include "app/stop_relay.h"
#include "platform/poll_gaps.h"
#include "present/wake_stamps.h"

#include <atomic>
#include <cstdint>

namespace corva {

// Raised (never cleared) to end every run-control loop.
extern std::atomic<bool> StopFlag;
// Steady-clock time of the last benchmark wake request not yet seen as displays-on; 0: none.
extern std::atomic<int64_t> WakeRequestStamp;
// The steps of the benchmark wake in progress (cleared before each wake request): the
// present loop stamps a park wake's, the benchmark driver a doze wake's.
extern WakeStamps WakePhaseStamps;
// The display-status monitor's gaps between samples, kept by the monitor thread and read
// once it has stopped.
extern PollGaps MonitorPolls;

// What became of the last benchmark wake request, decided once, by the display-status
// monitor: the benchmark driver takes the cycle's outcome from it, so a cycle never gets
// both a latency and an abandon line.
enum class WakeVerdict : int { None, Pending, Measured, DiscardedLinkLost, DiscardedPaused };
extern std::atomic<WakeVerdict> LastWakeVerdict;

// The presenter's own stop request while it is attached. The console handler raises it along
// with StopFlag, so a stop reaches the presenter also where it draws no frame (display
// acquisition retries, frames skipped on a stuck GPU, panels parked). main detaches it
// before the presenter is destroyed.
extern StopRelay PresenterStop;

// Prints "NAME hh:mm:ss.mmm" with the local time on standard output.
void EventMarker(const char* name);

// Console control: Ctrl+C, Ctrl+Break, close (SIGTERM and SIGHUP too), log-off and shut-down
// raise StopFlag and are handled; other types are not. For the last three the system ends
// the process once the handler returns: the platform layer holds it until teardownFinished().
bool consoleCtrlHandler(unsigned long ctrlType);

}  // namespace corva
