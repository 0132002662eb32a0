// QuickEdit on the real console calls (under Wine in CI): off while the program runs, the
// console's input mode as it was once teardown ends or the process exits.
#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace corva {
namespace {

// The console's input buffer; under Wine with redirected output the test program has no
// console, so one of its own then.
HANDLE consoleInput() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (input != INVALID_HANDLE_VALUE) return input;
        FreeConsole();
        AllocConsole();
    }
    return INVALID_HANDLE_VALUE;
}

DWORD modeOf(HANDLE input) {
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) ? mode : 0xFFFFFFFFu;
}

TEST(Win32Console, QuickEditIsOffForTheRunAndTheInputModeRestoredAtTheEndOrAtExit) {
    HANDLE input = consoleInput();
    ASSERT_NE(input, INVALID_HANDLE_VALUE) << "no console, error " << GetLastError();
    const DWORD original = modeOf(input);
    const DWORD withQuickEdit =
        original | ENABLE_EXTENDED_FLAGS | ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE;
    ASSERT_TRUE(SetConsoleMode(input, withQuickEdit));
    ASSERT_EQ(modeOf(input), withQuickEdit);

    ASSERT_TRUE(platform::switchQuickEditOff());
    const DWORD during = modeOf(input);
    EXPECT_EQ(during & ENABLE_QUICK_EDIT_MODE, 0u);
    EXPECT_EQ(during | ENABLE_QUICK_EDIT_MODE, withQuickEdit) << "other bits changed";
    platform::restoreConsoleModes();
    EXPECT_EQ(modeOf(input), withQuickEdit);

    // A process that exits without reaching the end of teardown: restored at exit.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool off = platform::switchQuickEditOff() && (modeOf(input) & ENABLE_QUICK_EDIT_MODE) == 0;
            std::exit(off ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(modeOf(input), withQuickEdit);

    SetConsoleMode(input, original | ENABLE_EXTENDED_FLAGS);
    CloseHandle(input);
}

}  // namespace
}  // namespace corva
