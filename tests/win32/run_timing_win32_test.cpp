// Timing as on a real Windows PC, where a process that asked for nothing sleeps in steps of
// the system tick (about 15.6 ms) and Wine's precise sleeps would hide it: the program
// holds 1 ms timer resolution from start to exit whichever way the run ends (the system
// calls replaced), its one-second waits keep a schedule on the clock (checked with Sleep
// rounding up to a coarse tick), and the figures with its timer settings are measured.
#include "app/shared_state.h"
#include "app/status_threads.h"
#include "app/tessaray_main.h"
#include "platform/platform.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "prox/mcu_prox.h"
#include "sim/scenario.h"
#include "sim/scenario_runner.h"
#include "sim/sim_display.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" decltype(&::timeBeginPeriod) __imp_timeBeginPeriod;
extern "C" decltype(&::timeEndPeriod) __imp_timeEndPeriod;
extern "C" decltype(&::Sleep) __imp_Sleep;

namespace corva {
namespace {

// What the program asked of the timer: periods begun and ended, and how many it holds.
std::vector<UINT> gBegun, gEnded;
std::atomic<int> gPeriodsHeld{0};
UINT WINAPI recordBegin(UINT period) {
    gBegun.push_back(period);
    gPeriodsHeld += 1;
    return TIMERR_NOERROR;
}
UINT WINAPI recordEnd(UINT period) {
    gEnded.push_back(period);
    gPeriodsHeld -= 1;
    return TIMERR_NOERROR;
}

struct ExitPath {
    const char* name;
    const char* seconds;
    bool display;
    std::function<void()> midRun;  // 0.8 s after the start
    int exitCode;
};

TEST(Win32RunTiming, TimerResolutionIsHeldFromStartToExitOnEveryWayOut) {
    test::SimDriverSandbox sandbox;
    const ExitPath paths[] = {
        {"run completed", "2", true, nullptr, 0},
        {"initialisation failed", "2", false, nullptr, 3},
        {"display lost", "10", true, [] { sim::setDeviceRemoved(true); }, 4},
        {"stopped from the console", "10", true, [] { consoleCtrlHandler(CTRL_C_EVENT); }, 0},
    };
    for (const ExitPath& path : paths) {
        sim::DisplayConfig display = test::loopHeadset();
        if (!path.display) display.displays.clear();
        sim::resetDisplay(display);
        StopFlag.store(false);
        gBegun.clear();
        gEnded.clear();
        int heldMidRun = -1;
        int exitCode = -1;
        {
            test::ImportSwap begin(&__imp_timeBeginPeriod, recordBegin);
            test::ImportSwap end(&__imp_timeEndPeriod, recordEnd);
            std::string programName = "tessaray.exe", seconds = path.seconds;
            char* argv[] = {programName.data(), seconds.data(), nullptr};
            std::atomic<bool> returned{false};
            std::thread midRun([&] {
                Sleep(800);
                if (returned.load()) return;
                heldMidRun = gPeriodsHeld.load();
                if (path.midRun) path.midRun();
            });
            ::testing::internal::CaptureStdout();
            ::testing::internal::CaptureStderr();
            exitCode = tessarayMain(2, argv);
            returned = true;
            midRun.join();
            const std::string out = ::testing::internal::GetCapturedStdout();
            const std::string err = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(exitCode, path.exitCode) << path.name << "\n" << out << err;
        }
        EXPECT_EQ(gBegun, std::vector<UINT>{1}) << path.name;
        EXPECT_EQ(gEnded, std::vector<UINT>{1}) << path.name;
        EXPECT_EQ(gPeriodsHeld.load(), 0) << path.name;
        if (path.display) {
            EXPECT_EQ(heldMidRun, 1) << path.name;
        }
    }
    StopFlag.store(false);
    sim::resetDisplay();
}

// Sleep as a process that has not raised the timer resolution gets it on Windows 10 2004
// and later: rounded up to the next tick of 15.625 ms.
decltype(&::Sleep) gRealSleep = nullptr;
constexpr DWORD kCoarseTickUs = 15625;
void WINAPI coarseSleep(DWORD ms) {
    const DWORD ticks = (ms * 1000 + kCoarseTickUs - 1) / kCoarseTickUs;
    gRealSleep((ticks * kCoarseTickUs + 999) / 1000);
}

// The presenter's clock, noting when the first wait between attempts began.
class FirstSleepClock final : public PresenterClock {
  public:
    int64_t nowNs() override { return platform::steadyNowNs(); }
    void sleepMs(uint32_t ms) override {
        if (firstSleepNs == 0) firstSleepNs = platform::steadyNowNs();
        platform::sleepMs(ms);
    }
    platform::WaitResult waitFor(platform::OsHandle handle, uint32_t timeoutMs) override {
        return platform::waitFor(handle, timeoutMs);
    }
    platform::OsHandle createHighResolutionTimer() override { return platform::createHighResolutionTimer(); }

    int64_t firstSleepNs = 0;
};

// Ten refusals, a second apart, then the bring-up gives up: ten seconds of waiting from
// the end of the first attempt, within one (coarse) poll, although every sleep overshoots.
TEST(Win32RunTiming, TenRefusedAcquisitionsTakeTenSecondsWithCoarseSleeps) {
    test::SimDriverSandbox sandbox;
    const sim::ScenarioParse scenario = sim::parseScenario("acquire-fail 10");
    ASSERT_TRUE(scenario.ok) << scenario.error;
    sim::applyDisplayStart(scenario.scenario);
    NvapiD3d12Presenter presenter(PresenterConfig{});
    FirstSleepClock clock;
    presenter.im->clock = &clock;
    bool ready = true;
    int64_t endNs = 0;
    {
        test::ImportSwap sleep(&__imp_Sleep, coarseSleep);
        gRealSleep = sleep.original();
        ::testing::internal::CaptureStdout();
        ready = presenter.init();
        endNs = platform::steadyNowNs();
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_FALSE(ready);
    EXPECT_EQ(sim::displayState().acquireCalls, 10u);
    const double waitedMs = double(endNs - clock.firstSleepNs) / 1e6;
    const double pollMs = 2.0 * kCoarseTickUs / 1000.0;  // a 20 ms poll on the coarse tick
    std::printf("ten refused acquisitions, sleeps on a 15.6 ms tick: %.1f ms of waiting\n", waitedMs);
    EXPECT_GE(waitedMs, 10000.0 - pollMs);
    EXPECT_LE(waitedMs, 10000.0 + pollMs);
    sim::resetDisplay();
}

// With the program's timer settings in force: how often the display-status monitor really
// samples (its sleeps counted on its own thread), and the rate of a self-paced free run
// (the vertical blank lost), from the simulated display's presents. Figures printed; the
// bounds only catch a coarse tick (about 16 ms polls, 64 Hz).
DWORD gMonitorThread = 0;
std::atomic<int> gMonitorSleeps{0};
void WINAPI countingSleep(DWORD ms) {
    if (GetCurrentThreadId() == gMonitorThread) gMonitorSleeps += 1;
    gRealSleep(ms);
}

TEST(Win32RunTiming, MonitorPollAndFreeRunRateWithTheProgramsTimerSettings) {
    const platform::FineTimerResolution fineTimer;
    EXPECT_TRUE(fineTimer.raised());

    StopFlag.store(false);
    McuProx link;  // not open: the monitor just polls
    int64_t monitorNs = 0;
    {
        test::ImportSwap sleep(&__imp_Sleep, countingSleep);
        gRealSleep = sleep.original();
        gMonitorSleeps = 0;
        std::atomic<bool> started{false};
        std::thread monitor([&] {
            gMonitorThread = GetCurrentThreadId();
            started = true;
            dstatMonitorLoop(link);
        });
        while (!started.load()) Sleep(1);
        const int64_t start = platform::steadyNowNs();
        Sleep(2000);
        const int polls = gMonitorSleeps.load();
        monitorNs = (platform::steadyNowNs() - start) / (polls > 0 ? polls : 1);
        StopFlag.store(true);
        monitor.join();
        StopFlag.store(false);
    }
    std::printf("display-status monitor: one poll every %.2f ms\n", double(monitorNs) / 1e6);
    EXPECT_LT(monitorNs, 8000000);

    test::SimDriverSandbox sandbox;
    std::string initOutput;
    auto presenter = test::bringUpLoopPresenter(test::loopHeadset(), initOutput);
    ASSERT_NE(presenter, nullptr) << initOutput;
    sim::setVblankLost(true);
    ::testing::internal::CaptureStderr();
    presenter->run(4.0, [](const FrameContext&) {});
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(presenter->stats().freeRunEvents, 1u) << err;
    // The last two seconds are well inside the episode (it starts after 30 fast frames).
    const sim::Timeline timeline = sim::timeline();
    ASSERT_GE(timeline.presents.size(), 2u);
    const int64_t endNs = timeline.presents.back().timeNs;
    size_t inWindow = 0;
    for (const sim::PresentRecord& present : timeline.presents)
        inWindow += present.timeNs > endNs - 2000000000 ? 1 : 0;
    const double rateHz = double(inWindow) / 2.0;
    std::printf("self-paced free run: %.1f Hz (mode 75 Hz)\n", rateHz);
    EXPECT_GE(rateHz, 66.0);  // 64 Hz on the coarse tick
    EXPECT_LE(rateHz, 84.0);
    presenter.reset();
    sim::resetDisplay();
}

}  // namespace
}  // namespace corva
