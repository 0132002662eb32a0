// The console's QuickEdit mode, off while the program runs.
#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>

namespace corva::platform {

namespace {

HANDLE gConsoleInput = INVALID_HANDLE_VALUE;  // kept open while the mode is changed
DWORD gSavedInputMode = 0;

}  // namespace

bool switchQuickEditOff() {
    if (gConsoleInput != INVALID_HANDLE_VALUE) return true;
    // The console's own input buffer, also when standard input is redirected: the window
    // still takes mouse selections then.
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return false;  // no console
    DWORD mode = 0;
    // ENABLE_EXTENDED_FLAGS makes the QuickEdit bit count.
    if (!GetConsoleMode(input, &mode) ||
        !SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~DWORD(ENABLE_QUICK_EDIT_MODE))) {
        CloseHandle(input);
        return false;
    }
    gConsoleInput = input;
    gSavedInputMode = mode;
    static const bool registered = std::atexit(restoreConsoleModes) == 0;
    (void)registered;
    return true;
}

void restoreConsoleModes() {
    if (gConsoleInput == INVALID_HANDLE_VALUE) return;
    SetConsoleMode(gConsoleInput, gSavedInputMode | ENABLE_EXTENDED_FLAGS);
    CloseHandle(gConsoleInput);
    gConsoleInput = INVALID_HANDLE_VALUE;
}

}  // namespace corva::platform
