// The timer resolution in force is read back from the system (NtQueryTimerResolution, in
// 100 ns units), a 1 ms sleep is measured beside it, and the process's power-throttling
// state is read back (GetProcessInformation): the opt-outs in force, whatever was asked.
#include "platform/machine_conditions.h"

#include "platform/platform.h"
#include "platform/system_library_win32.h"

#include <algorithm>
#include <array>

#include <windows.h>

namespace corva::platform {

namespace {

using QueryTimerResolution = LONG(NTAPI*)(ULONG* coarsest, ULONG* finest, ULONG* current);
// Looked up rather than imported: a system without it (Wine 8 among them) leaves the opt-outs
// unread instead of ending the program at the call.
using GetProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// The median of a few 1 ms sleeps, in ms.
double shortSleepMs() {
    std::array<int64_t, 5> took{};
    for (int64_t& t : took) {
        const int64_t start = steadyNowNs();
        Sleep(1);
        t = steadyNowNs() - start;
    }
    std::sort(took.begin(), took.end());
    return double(took[took.size() / 2]) / 1e6;
}

}  // namespace

MachineFigures measureMachine(bool keptAwake) {
    MachineFigures m;
    m.keptAwake = keptAwake;
    const auto query = systemFunction<QueryTimerResolution>(L"ntdll.dll", "NtQueryTimerResolution");
    ULONG coarsest = 0, finest = 0, current = 0;
    if (query == nullptr || query(&coarsest, &finest, &current) < 0) return m;  // unmeasured
    m.measured = true;
    m.timerResolutionMs = double(current) / 1e4;
    m.shortSleepMs = shortSleepMs();
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    const auto getInformation =
        systemFunction<GetProcessInformationFn>(L"kernel32.dll", "GetProcessInformation");
    if (getInformation != nullptr &&
        getInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state))) {
        // In force: controlled by the process, and its state says not throttled.
        m.throttlingRead = true;
        auto optedOut = [&](ULONG flag) {
            return (state.ControlMask & flag) != 0 && (state.StateMask & flag) == 0;
        };
        m.speedOptOut = optedOut(PROCESS_POWER_THROTTLING_EXECUTION_SPEED);
        m.timerOptOut = optedOut(PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);
    }
    return m;
}

}  // namespace corva::platform
