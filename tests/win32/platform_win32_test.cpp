// The Win32 platform layer on the real system calls (under Wine in CI): console control,
// events and timed waits, the pacing timer, local time and the console's code page.
#include "app/shared_state.h"
#include "app/tessaray_main.h"
#include "lines/printed_lines.h"
#include "platform/console_write.h"
#include "platform/platform.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <io.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" decltype(&::CreateWaitableTimerExW) __imp_CreateWaitableTimerExW;
extern "C" decltype(&::SetConsoleCtrlHandler) __imp_SetConsoleCtrlHandler;
extern "C" decltype(&::CreateWindowExW) __imp_CreateWindowExW;

namespace corva {
namespace {

using platform::WaitResult;

// Runs under Wine with its output redirected, where the program has no console: one of
// its own then.
bool haveConsole() {
    if (GetConsoleOutputCP() != 0) return true;
    FreeConsole();
    const BOOL made = AllocConsole();
    std::printf("console: AllocConsole %d (error %lu), output code page %u\n", made, GetLastError(),
                GetConsoleOutputCP());
    return GetConsoleOutputCP() != 0;
}

int64_t msSince(int64_t startNs) {
    return (platform::steadyNowNs() - startNs) / 1000000;
}

// Ctrl+C, Ctrl+Break, close, log-off and shut-down stop the run; other types are left alone.
TEST(Win32ConsoleControl, StopTypesRaiseTheStopOthersAreNotHandled) {
    for (unsigned long type : {0ul, 1ul, 2ul, 5ul, 6ul, 3ul, 4ul, 7ul}) {
        StopFlag.store(false);
        const bool stops = type <= 2 || type == 5 || type == 6;
        EXPECT_EQ(consoleCtrlHandler(type), stops) << type;
        EXPECT_EQ(StopFlag.load(), stops) << type;
    }
    StopFlag.store(false);
}

PHANDLER_ROUTINE gRegisteredRoutine = nullptr;
BOOL gRegisteredAdd = FALSE;
BOOL WINAPI recordConsoleHandler(PHANDLER_ROUTINE routine, BOOL add) {
    gRegisteredRoutine = routine;
    gRegisteredAdd = add;
    return TRUE;
}

// What the system's console-control thread calls: the routine the platform registers,
// which answers TRUE for the types the handler handles (Wine cannot raise the events). For
// close, log-off and shut-down the system ends the process once it returns, so it returns
// only when teardown has finished.
TEST(Win32ConsoleControl, TheRegisteredRoutineRaisesTheStopAndHoldsCloseUntilTeardownFinished) {
    {
        test::ImportSwap swap(&__imp_SetConsoleCtrlHandler, recordConsoleHandler);
        ASSERT_TRUE(platform::installConsoleHandler(consoleCtrlHandler).complete());
    }
    ASSERT_NE(gRegisteredRoutine, nullptr);
    EXPECT_TRUE(gRegisteredAdd);
    for (DWORD type : {0ul, 1ul, 3ul}) {
        StopFlag.store(false);
        EXPECT_EQ(gRegisteredRoutine(type), type <= 1 ? TRUE : FALSE) << type;
        EXPECT_EQ(StopFlag.load(), type <= 1) << type;
    }

    StopFlag.store(false);
    std::atomic<bool> returned{false};
    std::thread systemThread([&] {
        EXPECT_EQ(gRegisteredRoutine(CTRL_CLOSE_EVENT), TRUE);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(StopFlag.load());
    EXPECT_FALSE(returned.load()) << "returned before teardown finished";
    const int64_t finishedAt = platform::steadyNowNs();
    platform::teardownFinished();
    systemThread.join();
    EXPECT_LT(msSince(finishedAt), 1000);
    for (DWORD type : {5ul, 6ul}) {  // teardown already finished: at once
        StopFlag.store(false);
        const int64_t start = platform::steadyNowNs();
        EXPECT_EQ(gRegisteredRoutine(type), TRUE) << type;
        EXPECT_TRUE(StopFlag.load()) << type;
        EXPECT_LT(msSince(start), 1000);
    }
    StopFlag.store(false);
}

std::vector<std::pair<PHANDLER_ROUTINE, BOOL>> gHandlerCalls;
BOOL WINAPI recordEveryHandlerCall(PHANDLER_ROUTINE routine, BOOL add) {
    gHandlerCalls.emplace_back(routine, add);
    return TRUE;
}

// Started by a parent that ignores Ctrl+C, the process inherits that: the handler's
// installation takes Ctrl+C back (a null routine, FALSE) before it registers its own.
TEST(Win32ConsoleControl, CtrlCIsReenabledBeforeTheHandlerIsRegistered) {
    gHandlerCalls.clear();
    {
        test::ImportSwap swap(&__imp_SetConsoleCtrlHandler, recordEveryHandlerCall);
        ASSERT_TRUE(platform::installConsoleHandler(consoleCtrlHandler).complete());
    }
    ASSERT_EQ(gHandlerCalls.size(), 2u);
    EXPECT_EQ(gHandlerCalls[0].first, nullptr);
    EXPECT_EQ(gHandlerCalls[0].second, FALSE);
    EXPECT_NE(gHandlerCalls[1].first, nullptr);
    EXPECT_EQ(gHandlerCalls[1].second, TRUE);
    platform::teardownFinished();
}

// The hidden window's messages, as the system sends them: a session end's query ends
// nothing (another program may cancel it), nor does a cancelled end; WM_ENDSESSION with TRUE
// stops the run, starts the teardown's deadline and is held until teardown is done; WM_CLOSE
// (taskkill without /F) stops it without a hold and the window stays for a later log-off.
TEST(Win32ConsoleControl, TheHiddenWindowStopsOnTheSessionsEndAndOnCloseNotOnTheQuery) {
    {
        test::ImportSwap swap(&__imp_SetConsoleCtrlHandler, recordConsoleHandler);
        ASSERT_TRUE(platform::installConsoleHandler(consoleCtrlHandler).complete());
    }
    const HWND window = FindWindowW(L"tessaray session end", nullptr);
    ASSERT_NE(window, nullptr);
    StopFlag.store(false);
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessageW(window, WM_ENDSESSION, FALSE, 0), 0);
    EXPECT_FALSE(StopFlag.load()) << "a session end that may still be cancelled stopped the run";
    EXPECT_FALSE(platform::stoppedBySystem());
    EXPECT_EQ(platform::teardownWaitMs(5000), 5000u);

    const int64_t closedAt = platform::steadyNowNs();
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_LT(msSince(closedAt), 1000) << "WM_CLOSE was held";
    EXPECT_TRUE(StopFlag.load());
    EXPECT_TRUE(platform::stoppedBySystem());
    EXPECT_TRUE(IsWindow(window)) << "closed: a later log-off would not be seen";
    EXPECT_EQ(platform::teardownWaitMs(5000), 5000u) << "no hold, no deadline";

    StopFlag.store(false);
    std::atomic<bool> returned{false};
    std::thread system([&] {
        SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(StopFlag.load());
    EXPECT_FALSE(returned.load()) << "returned before teardown finished";
    const uint32_t left = platform::teardownWaitMs(5000);
    EXPECT_LE(left, platform::kTeardownHoldMs - platform::kTeardownReserveMs - 250);
    EXPECT_GT(left, 1000u);
    platform::teardownFinished();
    system.join();
    StopFlag.store(false);
    platform::clearTeardownDeadline();
}

TEST(Win32Events, AutoResetReleasesOneWaitManualResetStaysSignalledUntilReset) {
    platform::OsHandle autoReset = platform::createEvent(false, true);
    platform::OsHandle manual = platform::createEvent(true, false);
    ASSERT_NE(autoReset, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(platform::waitFor(autoReset, 0), WaitResult::Signalled);  // created signalled
    EXPECT_EQ(platform::waitFor(autoReset, 0), WaitResult::TimedOut);   // and consumed
    EXPECT_EQ(platform::waitFor(manual, 0), WaitResult::TimedOut);
    EXPECT_TRUE(platform::setEvent(manual));
    EXPECT_EQ(platform::waitFor(manual, 0), WaitResult::Signalled);
    EXPECT_EQ(platform::waitFor(manual, 0), WaitResult::Signalled);
    EXPECT_TRUE(platform::resetEvent(manual));
    EXPECT_EQ(platform::waitFor(manual, 0), WaitResult::TimedOut);
    platform::closeHandle(autoReset);
    platform::closeHandle(manual);
}

TEST(Win32Events, TimedWaitsTimeOutAfterTheirTimeAndEndWhenSignalledFromAnotherThread) {
    platform::OsHandle event = platform::createEvent(false, false);
    int64_t start = platform::steadyNowNs();
    EXPECT_EQ(platform::waitFor(event, 60), WaitResult::TimedOut);
    EXPECT_GE(msSince(start), 55);
    EXPECT_LT(msSince(start), 1000);

    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        platform::setEvent(event);
    });
    start = platform::steadyNowNs();
    EXPECT_EQ(platform::waitFor(event, platform::kInfinite), WaitResult::Signalled);
    EXPECT_GE(msSince(start), 40);
    setter.join();
    platform::closeHandle(event);
    EXPECT_EQ(platform::waitFor(event, 0), WaitResult::Failed);  // a closed handle
}

struct TimerRequest {
    bool seen = false;
    bool named = false;
    bool attributes = false;
    DWORD flags = 0;
    DWORD access = 0;
};
TimerRequest gTimerRequest;
decltype(&::CreateWaitableTimerExW) gRealCreateTimer = nullptr;

HANDLE WINAPI recordTimerRequest(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags, DWORD access) {
    gTimerRequest = {true, name != nullptr, attributes != nullptr, flags, access};
    return gRealCreateTimer(attributes, name, flags, access);
}

// A manual-reset high-resolution timer with all access, unnamed; relative due times in
// 100 ns units. The overshoot of 2 ms waits is printed, not judged (it is the system's).
TEST(Win32PaceTimer, IsAManualResetHighResolutionTimerThatWaitsRelativeTimes) {
    test::ImportSwap swap(&__imp_CreateWaitableTimerExW, recordTimerRequest);
    gRealCreateTimer = swap.original();
    platform::OsHandle timer = platform::createHighResolutionTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(gTimerRequest.seen);
    EXPECT_FALSE(gTimerRequest.named);
    EXPECT_FALSE(gTimerRequest.attributes);
    EXPECT_EQ(gTimerRequest.flags, 3u);  // manual reset | high resolution
    EXPECT_EQ(gTimerRequest.access, DWORD(TIMER_ALL_ACCESS));
    EXPECT_EQ(DWORD(TIMER_ALL_ACCESS), 0x1F0003u);

    std::vector<double> overshootMs;
    for (int i = 0; i < 40; ++i) {
        const int64_t start = platform::steadyNowNs();
        ASSERT_TRUE(platform::setTimer(timer, -20000));  // 2 ms from now
        ASSERT_EQ(platform::waitFor(timer, 50), WaitResult::Signalled);
        const double waitedMs = double(platform::steadyNowNs() - start) / 1e6;
        EXPECT_GE(waitedMs, 1.9);
        overshootMs.push_back(waitedMs - 2.0);
        // Manual reset: it stays signalled until set again.
        EXPECT_EQ(platform::waitFor(timer, 0), WaitResult::Signalled);
    }
    std::sort(overshootMs.begin(), overshootMs.end());
    double sum = 0;
    for (double ms : overshootMs) sum += ms;
    std::printf("pace timer, 2 ms relative waits: overshoot mean %.3f ms, median %.3f ms, max %.3f ms\n",
                sum / overshootMs.size(), overshootMs[overshootMs.size() / 2], overshootMs.back());
    EXPECT_LT(overshootMs[overshootMs.size() / 2], 20.0);  // not the coarse system tick's worst
    platform::closeHandle(timer);
}

// Local, not UTC (the Wine runner sets a time zone half an hour off any whole hour).
TEST(Win32Time, LocalTimeIsTheSystemsLocalTime) {
    auto secondOfDay = [](unsigned h, unsigned m, unsigned s) { return int(h * 3600 + m * 60 + s); };
    SYSTEMTIME utc, expected;
    GetSystemTime(&utc);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &expected));
    const platform::LocalTime now = platform::localTimeNow();
    EXPECT_LT(now.millisecond, 1000u);
    const int difference = secondOfDay(now.hour, now.minute, now.second) -
                           secondOfDay(expected.wHour, expected.wMinute, expected.wSecond);
    EXPECT_TRUE(difference >= 0 && difference <= 2) << difference;  // a midnight between: retry

    // The steady clock runs at the performance counter's rate.
    const int64_t start = platform::steadyNowNs();
    Sleep(100);
    EXPECT_GE(msSince(start), 95);
    EXPECT_LT(msSince(start), 2000);
}

// The console's code page is also the parent shell's, and a killed run would never restore
// it: left alone. A line reaches the console whole whatever the code page (as UTF-16).
TEST(Win32Console, TheCodePageIsLeftAloneAndLinesReachTheConsoleWhole) {
    ASSERT_TRUE(haveConsole());
    const UINT original = GetConsoleOutputCP();
    ASSERT_TRUE(SetConsoleOutputCP(850));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform::initConsoleOutput();
            std::exit(GetConsoleOutputCP() == 850 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    const int consoleFd = _open_osfhandle(reinterpret_cast<intptr_t>(console), 0);
    const int savedErr = _dup(2);
    _dup2(consoleFd, 2);
    const platform::WriteResult written =
        platform::writeWhole(platform::StdStream::Err, "a \xE2\x80\x94 b\n", 8);
    _dup2(savedErr, 2);
    _close(savedErr);
    EXPECT_EQ(written, platform::WriteResult::Written);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    wchar_t shown[6] = {};
    DWORD read = 0;
    ASSERT_TRUE(
        ReadConsoleOutputCharacterW(console, shown, 5, {0, SHORT(info.dwCursorPosition.Y - 1)}, &read));
    EXPECT_EQ(std::wstring(shown, read), L"a \u2014 b");
    _close(consoleFd);
    SetConsoleOutputCP(original);
}

BOOL WINAPI refuseCtrlHandler(PHANDLER_ROUTINE, BOOL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}
HWND WINAPI refuseWindow(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// The program's run with both refused: exits 0 when standard error said both.
[[noreturn]] void runWithoutStopHandlers(const std::string& handlerLine, const std::string& windowLine) {
    const test::ImportSwap handler(&__imp_SetConsoleCtrlHandler, refuseCtrlHandler);
    const test::ImportSwap window(&__imp_CreateWindowExW, refuseWindow);
    char name[] = "tessaray.exe", seconds[] = "1";
    char* argv[] = {name, seconds, nullptr};
    ::testing::internal::CaptureStderr();
    tessarayMain(2, argv);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::exit(err.find(handlerLine) != std::string::npos && err.find(windowLine) != std::string::npos ? 0
                                                                                                      : 1);
}

// Without them a log-off (or Ctrl+C) would end the run without its teardown: said on standard
// error. In a process of its own, where no window was made before.
TEST(Win32ConsoleControl, AHandlerOrSessionEndWindowThatCannotBeMadeIsSaidOnStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char handlerLine[300], windowLine[300];
    std::snprintf(handlerLine, sizeof handlerLine, lines::kConsoleHandlerMissing.format(), 8ul);
    std::snprintf(windowLine, sizeof windowLine, lines::kSessionEndWindowMissing.format(), 8ul);
    EXPECT_EXIT(runWithoutStopHandlers(handlerLine, windowLine), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corva
