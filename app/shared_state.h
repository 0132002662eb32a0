// Process-wide values the run-control threads share, and the event-marker line.
#pragma once

#include <atomic>
#include <cstdint>

namespace corva {

// Raised (never cleared) to end every run-control loop.
extern std::atomic<bool> StopFlag;
// Steady-clock time of the last benchmark wake request not yet seen as displays-on; 0: none.
extern std::atomic<int64_t> WakeRequestStamp;

// Prints "NAME hh:mm:ss.mmm" with the local time on standard output.
void EventMarker(const char* name);

// Console control: Ctrl+C, Ctrl+Break and close raise StopFlag; other types are not handled.
bool consoleCtrlHandler(unsigned long ctrlType);

}  // namespace corva
