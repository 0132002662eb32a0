// Stop requests from the system: the console's control events (Ctrl+C, Ctrl+Break, close)
// and the session's end (log-off, shut-down), which reaches a program that has loaded user32
// only as WM_QUERYENDSESSION / WM_ENDSESSION to its top-level windows.
#include "platform/platform.h"

#include <windows.h>

namespace corva::platform {

namespace {

ConsoleHandler gConsoleHandler = nullptr;
HANDLE gTeardownDone = nullptr;  // manual-reset, set by teardownFinished()

BOOL WINAPI onConsoleEvent(DWORD ctrlType) {
    if (gConsoleHandler == nullptr || !gConsoleHandler(ctrlType)) return FALSE;
    // Close, log-off, shut-down: the process ends when this returns; let teardown finish
    // first (result line, bypass restored, display released), within the system's limit.
    const bool endsProcess =
        ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT || ctrlType == CTRL_SHUTDOWN_EVENT;
    if (endsProcess && gTeardownDone != nullptr) WaitForSingleObject(gTeardownDone, kTeardownHoldMs);
    return TRUE;
}

DWORD sessionEndType(LPARAM flags) {
    return (flags & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT;
}

LRESULT CALLBACK sessionEndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            // Stop now, so teardown has the time between this and WM_ENDSESSION too; a session
            // end another program cancels still ends the run (it was asked to end).
            if (gConsoleHandler != nullptr) gConsoleHandler(sessionEndType(lParam));
            return TRUE;
        case WM_ENDSESSION:
            // The system ends the process once this returns: held like the console's close.
            if (wParam != FALSE) onConsoleEvent(sessionEndType(lParam));
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

DWORD WINAPI sessionEndThread(void* created) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = sessionEndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"tessaray session end";
    // Top-level and never shown: message-only windows get no session-end messages.
    const HWND window = RegisterClassW(&windowClass) != 0
                            ? CreateWindowExW(0, windowClass.lpszClassName, L"tessaray", WS_OVERLAPPED, 0, 0,
                                              0, 0, nullptr, nullptr, instance, nullptr)
                            : nullptr;
    SetEvent(created);
    if (window == nullptr) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

// Returns once the window exists (or could not be made), so a session end from then on is seen.
bool openSessionEndWindow() {
    HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (created == nullptr) return false;
    HANDLE thread = CreateThread(nullptr, 0, sessionEndThread, created, 0, nullptr);
    const bool started = thread != nullptr && WaitForSingleObject(created, 5000) == WAIT_OBJECT_0;
    if (thread != nullptr) CloseHandle(thread);  // runs until the process ends
    CloseHandle(created);
    return started;
}

}  // namespace

bool installConsoleHandler(ConsoleHandler handler) {
    const bool first = gTeardownDone == nullptr;
    // A run's teardown starts unfinished (the tests run the program more than once in one process).
    if (first)
        gTeardownDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(gTeardownDone);
    gConsoleHandler = handler;
    const bool registered = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != FALSE;
    return (!first || openSessionEndWindow()) && registered;
}

void teardownFinished() {
    if (gTeardownDone != nullptr) SetEvent(gTeardownDone);
}

}  // namespace corva::platform
