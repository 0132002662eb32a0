#include "platform/keep_awake.h"

#include "platform/keep_awake_win32.h"

namespace corva::platform {

KeepAwakeCalls& keepAwakeCalls() {
    static KeepAwakeCalls calls;
    return calls;
}

// For the run's length: the system stays awake and the displays on, as when a video plays.
KeepAwake::KeepAwake() {
    held_ = keepAwakeCalls().setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED |
                                                     ES_DISPLAY_REQUIRED) != 0;
}

KeepAwake::~KeepAwake() {
    if (held_) keepAwakeCalls().setThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace corva::platform
