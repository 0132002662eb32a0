// One run at a time on the machine: a second run says so and exits with 3, touching neither
// the headset's microcontroller, nor the driver, nor the timer.
#include "app/tessaray_main.h"
#include "lines/printed_lines.h"
#include "lines/run_figures.h"
#include "platform/platform.h"
#include "platform/single_instance_win32.h"
#include "platform/timer_resolution_win32.h"
#include "sim/driver/call_log.h"
#include "sim/platform/test_hooks.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

extern "C" decltype(&::SetDefaultDllDirectories) __imp_SetDefaultDllDirectories;

namespace corva {
namespace {

// Counts every call the link would make to the HID devices.
class CountingHid final : public HidTransport {
  public:
    std::vector<HidHandle> openInterfaces(uint16_t, uint16_t) override {
        ++calls;
        return {};
    }
    bool setFeature(HidHandle, const uint8_t*, size_t, uint32_t) override { return ++calls, false; }
    int readReport(HidHandle, void*, uint8_t*, size_t, uint32_t, void*) override { return ++calls, -1; }
    void cancelIo(HidHandle) override { ++calls; }
    void close(HidHandle) override { ++calls; }
    unsigned long lastError() const override { return 0; }
    std::atomic<int> calls{0};
};

std::atomic<int> gTimerCalls{0};
BOOL WINAPI countedThrottling(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD) {
    return ++gTimerCalls, TRUE;
}
UINT WINAPI countedPeriod(UINT) {
    return ++gTimerCalls, 0u;
}

BOOL WINAPI refuseDllDirectories(DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

std::string lineText(const lines::LineFormat<>& line) {
    return line.format();
}

TEST(Win32SingleInstance, OnlyTheFirstHolderRunsAndTheNextRunsOnceItIsGone) {
    auto first = std::make_unique<platform::SingleInstance>();
    EXPECT_FALSE(first->anotherRuns());
    {
        const platform::SingleInstance second;
        EXPECT_TRUE(second.anotherRuns());
    }
    EXPECT_FALSE(first->anotherRuns()) << "a refused run took the first one's place";
    first.reset();
    const platform::SingleInstance next;
    EXPECT_FALSE(next.anotherRuns());
}

// Another process holds the machine's mutex: tessarayMain prints its one line on standard
// error and returns 3 before anything is touched. A library search the system refuses to
// restrict is said first (the refusal comes after it, as in a real start).
TEST(Win32SingleInstance, ASecondRunSaysSoAndExitsWithThreeTouchingNothing) {
    test::SimDriverSandbox sandbox;
    HANDLE held = CreateMutexW(nullptr, FALSE, platform::kSingleInstanceMutexName);
    ASSERT_NE(held, nullptr);
    CountingHid hid;
    installHidTransport(&hid);
    const platform::TimerResolutionCalls saved = platform::timerResolutionCalls();
    platform::timerResolutionCalls() = {countedThrottling, countedPeriod, countedPeriod};
    gTimerCalls = 0;
    const size_t driverCalls = sim::CallLog::instance().calls().size();
    int exitCode = -1;
    std::string out, err;
    {
        test::ImportSwap refuse(&__imp_SetDefaultDllDirectories, refuseDllDirectories);
        char name[] = "tessaray.exe", seconds[] = "2";
        char* argv[] = {name, seconds, nullptr};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        exitCode = tessarayMain(2, argv);
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
    }
    platform::timerResolutionCalls() = saved;
    installHidTransport(nullptr);
    CloseHandle(held);

    EXPECT_EQ(exitCode, run::kExitInitFailed);
    EXPECT_EQ(out, "");
    char searchLine[200];
    std::snprintf(searchLine, sizeof searchLine, lines::kLibrarySearchNotRestricted.format(), 87ul);
    EXPECT_EQ(err, std::string(searchLine) + lineText(lines::kAnotherRunHoldsTheHeadset));
    EXPECT_EQ(hid.calls.load(), 0);
    EXPECT_EQ(gTimerCalls.load(), 0);
    EXPECT_EQ(sim::CallLog::instance().calls().size(), driverCalls);
}

}  // namespace
}  // namespace corva
