#include "app/shared_state.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/platform.h"
#include "trace/trace.h"

namespace corva {

std::atomic<bool> StopFlag{false};
std::atomic<int64_t> WakeRequestStamp{0};
WakeStamps WakePhaseStamps;
PollGaps MonitorPolls;
std::atomic<WakeVerdict> LastWakeVerdict{WakeVerdict::None};
StopRelay PresenterStop;

void EventMarker(const char* name) {
    const platform::LocalTime t = platform::localTimeNow();
    // The trace's marker carries the printed time, so a trace and its log can be matched.
    if (trace::enabled())
        trace::marker(name, platform::steadyNowNs(),
                      ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond);
    lines::print(lines::kMarker, name, t.hour, t.minute, t.second, t.millisecond);
}

bool consoleCtrlHandler(unsigned long ctrlType) {
    if (!platform::isStopEvent(ctrlType)) return false;
    StopFlag.exchange(true);
    // Only atomic operations: this may run inside a signal handler.
    PresenterStop.raise();
    return true;
}

}  // namespace corva
