// What a real Windows PC does differently from Wine, through replaced system calls: a
// coarse default tick (15.6 ms sleeps), handles that must be closed, events that fail.
#include "app/shared_state.h"
#include "tests/support/sample_lines.h"
#include "app/status_threads.h"
#include "app/tessaray_main.h"
#include "lines/printed_lines.h"
#include "platform/keep_awake_win32.h"
#include "platform/timer_resolution_win32.h"
#include "present/presenter_impl.h"
#include "prox/mcu_prox.h"
#include "sim/driver/sim_display.h"
#include "sim/headset/scenario.h"
#include "sim/headset/scenario_runner.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" decltype(&::Sleep) __imp_Sleep;
extern "C" decltype(&::CreateEventA) __imp_CreateEventA;
extern "C" decltype(&::CloseHandle) __imp_CloseHandle;

namespace corva {
namespace {

// The timer calls the program makes, in order ("throttling", "begin", "end"); the power
// throttling state it asks for.
std::atomic<int> gPeriodsHeld{0};
std::mutex gTimerCallsLock;
std::vector<std::string> gTimerCalls;
PROCESS_POWER_THROTTLING_STATE gThrottling{};
PROCESS_INFORMATION_CLASS gThrottlingClass{};
bool gThrottlingOfThisProcess = false;
void recordTimerCall(const char* call) {
    std::lock_guard<std::mutex> lock(gTimerCallsLock);
    gTimerCalls.push_back(call);
}
BOOL WINAPI setProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information,
                                  DWORD size) {
    recordTimerCall("throttling");
    gThrottlingOfThisProcess = GetProcessId(process) == GetCurrentProcessId();
    gThrottlingClass = what;
    EXPECT_EQ(size, sizeof(gThrottling));
    if (size == sizeof(gThrottling)) gThrottling = *static_cast<PROCESS_POWER_THROTTLING_STATE*>(information);
    return TRUE;
}
UINT WINAPI beginPeriod(UINT period) {
    EXPECT_EQ(period, 1u);
    gPeriodsHeld += 1;
    recordTimerCall("begin");
    return TIMERR_NOERROR;
}
// The keep-awake request, recorded with the timer calls ("awake", "asleep" when undone).
std::atomic<int> gAwakeHeld{0};
EXECUTION_STATE WINAPI setThreadExecutionState(EXECUTION_STATE state) {
    const bool awake = state == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    EXPECT_TRUE(awake || state == ES_CONTINUOUS) << state;
    gAwakeHeld += awake ? 1 : -1;
    recordTimerCall(awake ? "awake" : "asleep");
    return ES_CONTINUOUS;
}
UINT WINAPI endPeriod(UINT period) {
    EXPECT_EQ(period, 1u);
    gPeriodsHeld -= 1;
    recordTimerCall("end");
    return TIMERR_NOERROR;
}

// Replaces the program's timer calls with the recording ones while it lives.
class RecordedTimerCalls {
  public:
    RecordedTimerCalls() : saved_(platform::timerResolutionCalls()), savedAwake_(platform::keepAwakeCalls()) {
        platform::timerResolutionCalls() = {setProcessInformation, beginPeriod, endPeriod};
        platform::keepAwakeCalls().setThreadExecutionState = setThreadExecutionState;
        std::lock_guard<std::mutex> lock(gTimerCallsLock);
        gTimerCalls.clear();
    }
    ~RecordedTimerCalls() {
        platform::timerResolutionCalls() = saved_;
        platform::keepAwakeCalls() = savedAwake_;
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(gTimerCallsLock);
        return gTimerCalls;
    }

  private:
    platform::TimerResolutionCalls saved_;
    platform::KeepAwakeCalls savedAwake_;
};

// winmm.dll is not imported (a copy beside the program would load first): its functions come
// from the system directory, and so does the library.
TEST(Win32RealWindows, TheTimerFunctionsComeFromTheSystemsWinmm) {
    const platform::TimerResolutionCalls calls = platform::systemTimerResolutionCalls();
    ASSERT_NE(calls.beginPeriod, nullptr);
    ASSERT_NE(calls.endPeriod, nullptr);
    HMODULE winmm = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(calls.beginPeriod), &winmm));
    wchar_t path[MAX_PATH] = {}, system[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(winmm, path, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(_wcsicmp(path, (std::wstring(system) + L"\\winmm.dll").c_str()), 0);
}

// Run completed, initialisation failed, display lost, stopped from the console: 1 ms held
// and the PC kept awake 0.8 s into the run, both given back by the end. Before it is raised, the process opts
// out of the power throttling that would let Windows 11 ignore it (its only window is hidden).
TEST(Win32RealWindows, TimerResolutionIsHeldForTheRunOnEveryWayOut) {
    test::SimDriverSandbox sandbox;
    const struct {
        bool display;
        void (*midRun)();
        int exitCode;
    } paths[] = {{true, nullptr, 0},
                 {false, nullptr, 3},
                 {true, [] { sim::setDeviceRemoved(true); }, 4},
                 {true, [] { consoleCtrlHandler(CTRL_C_EVENT); }, 0}};
    for (const auto& path : paths) {
        sim::DisplayConfig display = test::loopHeadset();
        if (!path.display) display.displays.clear();
        sim::resetDisplay(display);
        StopFlag.store(false);
        gThrottling = {};
        const RecordedTimerCalls recorded;
        int heldMidRun = -1, awakeMidRun = -1;
        std::thread midRun([&] {
            Sleep(800);
            heldMidRun = gPeriodsHeld.load();
            awakeMidRun = gAwakeHeld.load();
            if (path.midRun != nullptr) path.midRun();
        });
        char name[] = "tessaray.exe", seconds[] = "2";
        char* argv[] = {name, seconds, nullptr};
        ::testing::internal::CaptureStdout();
        const int exitCode = tessarayMain(2, argv);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(exitCode, path.exitCode) << out;
        midRun.join();
        EXPECT_EQ(recorded.calls(),
                  (std::vector<std::string>{"throttling", "begin", "awake", "asleep", "end"}))
            << path.exitCode;
        EXPECT_EQ(gPeriodsHeld.load(), 0) << path.exitCode;
        EXPECT_EQ(gAwakeHeld.load(), 0) << path.exitCode;
        EXPECT_TRUE(gThrottlingOfThisProcess);
        EXPECT_EQ(gThrottlingClass, ProcessPowerThrottling);
        EXPECT_EQ(gThrottling.Version, 1u);
        EXPECT_EQ(gThrottling.ControlMask, DWORD(PROCESS_POWER_THROTTLING_EXECUTION_SPEED |
                                                 PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION));
        EXPECT_EQ(gThrottling.StateMask, 0u);
        EXPECT_TRUE(platform::powerThrottlingOptOuts().executionSpeed &&
                    platform::powerThrottlingOptOuts().timerResolution);
        if (path.display) {
            EXPECT_EQ(heldMidRun, 1) << path.exitCode;
            EXPECT_EQ(awakeMidRun, 1) << path.exitCode;
        }
    }
    StopFlag.store(false);
    sim::resetDisplay();
}

// A system that does not know the timer-resolution flag refuses the call that names it: the
// execution-speed opt-out is then asked for alone, and standard error says what was refused.
ULONG gRefusedFlags = 0;  // a call naming any of them is refused
BOOL WINAPI refuseFlags(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information, DWORD size) {
    setProcessInformation(process, what, information, size);
    SetLastError(ERROR_INVALID_PARAMETER);
    return (gThrottling.ControlMask & gRefusedFlags) == 0;
}

TEST(Win32RealWindows, ARefusedTimerOptOutStillOptsOutOfExecutionSpeedThrottlingAndSaysSo) {
    char speedKept[200], noneKept[200];
    std::snprintf(speedKept, sizeof speedKept, lines::kTimerThrottlingOptOutRefused.format(), 87ul);
    std::snprintf(noneKept, sizeof noneKept, lines::kThrottlingOptOutsRefused.format(), 87ul, 87ul);
    for (const bool speedKnown : {true, false}) {
        const RecordedTimerCalls recorded;
        platform::timerResolutionCalls().setProcessInformation = refuseFlags;
        gRefusedFlags = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION |
                        (speedKnown ? 0 : PROCESS_POWER_THROTTLING_EXECUTION_SPEED);
        ::testing::internal::CaptureStderr();
        { EXPECT_TRUE(platform::FineTimerResolution().raised()); }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), speedKnown ? speedKept : noneKept);
        EXPECT_EQ(recorded.calls(), (std::vector<std::string>{"throttling", "throttling", "begin", "end"}));
        EXPECT_EQ(gThrottling.ControlMask, DWORD(PROCESS_POWER_THROTTLING_EXECUTION_SPEED));
        const platform::PowerThrottlingOptOuts held = platform::powerThrottlingOptOuts();
        EXPECT_TRUE(held.asked && !held.timerResolution);
        EXPECT_EQ(held.executionSpeed, speedKnown);
    }
}

// Sleep as a process that did not raise the resolution gets it: whole 15.625 ms ticks.
decltype(&::Sleep) gRealSleep = nullptr;
int64_t gFirstSleepNs = 0;  // of the test's own thread: the first wait between attempts
DWORD gTestThread = 0;
void WINAPI coarseSleep(DWORD ms) {
    if (gFirstSleepNs == 0 && GetCurrentThreadId() == gTestThread) gFirstSleepNs = platform::steadyNowNs();
    gRealSleep((ms * 1000 + 15624) / 15625 * 15625 / 1000 + 1);
}

// Ten refusals a second apart: ten seconds of waiting after the first, within one poll of
// the coarse tick, although every sleep overshoots (counted sleeps would take 15 s).
TEST(Win32RealWindows, TenRefusedAcquisitionsTakeTenSecondsOnACoarseTick) {
    test::SimDriverSandbox sandbox;
    sim::applyDisplayStart(sim::parseScenario("acquire-fail 10").scenario);
    NvapiD3d12Presenter presenter(PresenterConfig{});
    test::ImportSwap sleep(&__imp_Sleep, coarseSleep);
    gRealSleep = sleep.original();
    gTestThread = GetCurrentThreadId();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(presenter.init());
    const double waitedMs = double(platform::steadyNowNs() - gFirstSleepNs) / 1e6;
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim::displayState().acquireCalls, 10u);
    std::printf("ten refused acquisitions on a 15.6 ms tick: %.1f ms\n", waitedMs);
    EXPECT_NEAR(waitedMs, 10000.0, 32.0);
    sim::resetDisplay();
}

// Figures with the program's timer settings: the monitor's polls (its sleeps counted) and
// a self-paced free run (vertical blank lost). Generous bounds: the machine is shared.
DWORD gCountedThread = 0;
std::atomic<int> gCountedSleeps{0};
void WINAPI countingSleep(DWORD ms) {
    if (GetCurrentThreadId() == gCountedThread) gCountedSleeps += 1;
    gRealSleep(ms);
}

TEST(Win32RealWindows, MonitorPollAndFreeRunRateWithTheProgramsTimerSettings) {
    const platform::FineTimerResolution fineTimer;
    ASSERT_TRUE(fineTimer.raised());
    {
        test::ImportSwap sleep(&__imp_Sleep, countingSleep);
        gRealSleep = sleep.original();
        McuProx link;  // not open: the monitor only polls
        StopFlag.store(false);
        std::thread monitor([&] {
            gCountedThread = GetCurrentThreadId();
            dstatMonitorLoop(link);
        });
        Sleep(2000);
        StopFlag.store(true);
        monitor.join();
        StopFlag.store(false);
    }
    const double pollMs = 2000.0 / std::max(1, gCountedSleeps.load());
    std::printf("display-status monitor: a poll every %.2f ms\n", pollMs);
    EXPECT_LT(pollMs, 8.0);

    test::SimDriverSandbox sandbox;
    std::string initOutput;
    auto presenter = test::bringUpLoopPresenter(test::loopHeadset(), initOutput);
    ASSERT_NE(presenter, nullptr) << initOutput;
    sim::setVblankLost(true);
    ::testing::internal::CaptureStderr();
    presenter->run(4.0, [](const FrameContext&) {});
    ::testing::internal::GetCapturedStderr();
    const std::vector<sim::PresentRecord> presents = sim::timeline().presents;
    ASSERT_EQ(presenter->stats().freeRunEvents, 1u);
    // The last two seconds lie well inside the episode.
    const double rateHz = std::count_if(presents.begin(), presents.end(),
                                        [&](const sim::PresentRecord& p) {
                                            return p.timeNs > presents.back().timeNs - 2000000000;
                                        }) /
                          2.0;
    std::printf("self-paced free run: %.1f Hz (mode 75 Hz)\n", rateHz);
    EXPECT_GE(rateHz, 50.0);  // a starved machine runs slower: a figure, not a judgement
    EXPECT_LE(rateHz, 84.0);
    presenter.reset();
    sim::resetDisplay();
}

// The two handles naming the surfaces are the driver's: the bring-up closes none of them (a
// double close could hit an unrelated handle that reused the value); with no event to be
// had, it stops at the fence event and says why.
std::vector<HANDLE> gClosed;
bool gRefuseEvents = false;
decltype(&::CreateEventA) gRealCreateEvent = nullptr;
decltype(&::CloseHandle) gRealClose = nullptr;
HANDLE WINAPI createEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manual, BOOL initial, LPCSTR name) {
    if (gRefuseEvents) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return gRefuseEvents ? nullptr : gRealCreateEvent(attributes, manual, initial, name);
}
BOOL WINAPI closeHandle(HANDLE handle) {
    gClosed.push_back(handle);
    return gRealClose(handle);
}

TEST(Win32RealWindows, SurfaceHandlesAreLeftToTheDriverAndAMissingFenceEventFailsTheBringUp) {
    test::SimDriverSandbox sandbox;
    for (const bool refuse : {false, true}) {
        sim::resetDisplay(test::loopHeadset());
        NvapiD3d12Presenter presenter(PresenterConfig{test::kLoopWidth, test::kLoopHeight, 75.0, 22});
        gClosed.clear();
        gRefuseEvents = refuse;
        test::ImportSwap create(&__imp_CreateEventA, createEvent);
        test::ImportSwap close(&__imp_CloseHandle, closeHandle);
        gRealCreateEvent = create.original();
        gRealClose = close.original();
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const bool ready = presenter.init();
        ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        gRefuseEvents = false;
        const std::vector<void*> shared = sim::displayState().sharedHandles;
        EXPECT_EQ(ready, !refuse) << err;
        EXPECT_EQ(err, refuse ? test::printed(lines::kFenceEventNotCreated, 8ul) : "");
        EXPECT_EQ(shared.size(), refuse ? 0u : 2u);
        if (!refuse) {
            EXPECT_NE(shared[0], shared[1]);
        }
        for (void* handle : shared) EXPECT_EQ(std::count(gClosed.begin(), gClosed.end(), handle), 0);
        EXPECT_EQ(std::count(gClosed.begin(), gClosed.end(), presenter.im->fenceEvent), 0);
    }
    sim::resetDisplay();
}

}  // namespace
}  // namespace corva
