#include "app/shared_state.h"

#include "platform/platform.h"

#include <cstdio>

namespace corva {

std::atomic<bool> StopFlag{false};
std::atomic<int64_t> WakeRequestStamp{0};

void EventMarker(const char* name) {
    const platform::LocalTime t = platform::localTimeNow();
    std::printf("%s %02u:%02u:%02u.%03u\n", name, t.hour, t.minute, t.second, t.millisecond);
}

bool consoleCtrlHandler(unsigned long ctrlType) {
    if (ctrlType > 2) return false;  // logoff and shutdown: the system's default handling
    StopFlag.exchange(true);
    return true;
}

}  // namespace corva
