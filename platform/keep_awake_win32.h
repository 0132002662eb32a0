// The system call behind KeepAwake, in a table a test may replace to watch it.
#pragma once

#include <windows.h>

namespace corva::platform {

struct KeepAwakeCalls {
    EXECUTION_STATE(WINAPI* setThreadExecutionState)(EXECUTION_STATE state) = SetThreadExecutionState;
};

// The calls KeepAwake makes from now on (the system's unless a test replaced them).
KeepAwakeCalls& keepAwakeCalls();

}  // namespace corva::platform
