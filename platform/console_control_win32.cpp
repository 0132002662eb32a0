// Stop requests from the system: the console's control events (Ctrl+C, Ctrl+Break, close),
// the session's end (log-off, shut-down), which reaches a program that has loaded user32
// only as WM_QUERYENDSESSION / WM_ENDSESSION to its top-level windows, and WM_CLOSE to its
// window (taskkill without /F).
#include "platform/platform.h"

#include <windows.h>

#include <atomic>

namespace corva::platform {

namespace {

ConsoleHandler gConsoleHandler = nullptr;
HANDLE gTeardownDone = nullptr;  // manual-reset, set by teardownFinished()
std::atomic<bool> gStoppedBySystem{false};

// How long the system waits for a program at log-off and shut-down before it ends it (a
// user's setting); the default when it cannot be read.
uint32_t hungAppTimeoutMs() {
    UINT timeoutMs = 0;
    if (!SystemParametersInfoW(SPI_GETHUNGAPPTIMEOUT, 0, &timeoutMs, 0) || timeoutMs == 0)
        return kTeardownHoldMs + kHungAppMarginMs;
    return timeoutMs;
}

BOOL WINAPI onConsoleEvent(DWORD ctrlType) {
    if (gConsoleHandler == nullptr || !gConsoleHandler(ctrlType)) return FALSE;
    // Close, log-off, shut-down: the process ends when this returns; let teardown finish
    // first (result line, bypass restored, display released), within the system's limit,
    // which its waits learn from the deadline.
    const bool endsProcess =
        ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT || ctrlType == CTRL_SHUTDOWN_EVENT;
    if (endsProcess) {
        gStoppedBySystem.store(true);
        const uint32_t holdMs =
            ctrlType == CTRL_CLOSE_EVENT ? kTeardownHoldMs : sessionEndHoldMs(hungAppTimeoutMs());
        startTeardownDeadline(steadyNowNs(), holdMs);
        if (gTeardownDone != nullptr) WaitForSingleObject(gTeardownDone, holdMs);
    }
    return TRUE;
}

DWORD sessionEndType(LPARAM flags) {
    return (flags & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT;
}

LRESULT CALLBACK sessionEndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            // Agreed to, but the run goes on: another program may still cancel the session's end.
            return TRUE;
        case WM_ENDSESSION:
            // The session ends (wParam FALSE: it was cancelled). The system ends the process
            // once this returns: the stop is held like the console's close.
            if (wParam != FALSE) onConsoleEvent(sessionEndType(lParam));
            return 0;
        case WM_CLOSE:
            // Asked to close (taskkill without /F): a stop, with no hold, as the process is not
            // ended. The window stays, to see a later log-off or shut-down.
            if (gConsoleHandler != nullptr && gConsoleHandler(CTRL_CLOSE_EVENT)) gStoppedBySystem.store(true);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

struct SessionEndWindowStart {
    HANDLE created = nullptr;  // set once the window exists or could not be made
    HWND window = nullptr;
    DWORD error = 0;
};

DWORD WINAPI sessionEndThread(void* parameter) {
    auto* start = static_cast<SessionEndWindowStart*>(parameter);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = sessionEndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"tessaray session end";
    // Top-level and never shown: message-only windows get no session-end messages. The class
    // may remain from an earlier attempt whose window could not be made.
    const bool registered = RegisterClassW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    const HWND window = registered ? CreateWindowExW(0, windowClass.lpszClassName, L"tessaray", WS_OVERLAPPED,
                                                     0, 0, 0, 0, nullptr, nullptr, instance, nullptr)
                                   : nullptr;
    start->window = window;
    start->error = window != nullptr ? 0 : GetLastError();
    SetEvent(start->created);  // `start` is the opener's: not touched from here
    if (window == nullptr) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

HWND gSessionEndWindow = nullptr;

// Returns once the window exists (or could not be made), so a session end from then on is
// seen; the system's error when it could not be made.
DWORD openSessionEndWindow() {
    SessionEndWindowStart start;
    start.created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (start.created == nullptr) return GetLastError();
    HANDLE thread = CreateThread(nullptr, 0, sessionEndThread, &start, 0, nullptr);
    DWORD error = thread == nullptr ? GetLastError() : 0;
    if (thread != nullptr) {
        // The thread holds `start` until it sets the event: wait for that, however long.
        WaitForSingleObject(start.created, INFINITE);
        gSessionEndWindow = start.window;
        error = start.error;
        CloseHandle(thread);  // runs until the process ends
    }
    CloseHandle(start.created);
    return gSessionEndWindow != nullptr ? 0 : error != 0 ? error : ERROR_GEN_FAILURE;
}

}  // namespace

StopHandlers installConsoleHandler(ConsoleHandler handler) {
    // A run's teardown starts unfinished (the tests run the program more than once in one process).
    if (gTeardownDone == nullptr)
        gTeardownDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(gTeardownDone);
    gConsoleHandler = handler;
    gStoppedBySystem.store(false);
    clearTeardownDeadline();
    StopHandlers installed;
    // Started by a parent that ignores Ctrl+C (start /b, some launchers), the process inherits
    // that, and only Ctrl+Break would stop it: Ctrl+C is taken back first.
    SetConsoleCtrlHandler(nullptr, FALSE);
    installed.consoleHandler = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != FALSE;
    if (!installed.consoleHandler) installed.consoleHandlerError = GetLastError();
    if (gSessionEndWindow == nullptr) installed.sessionEndWindowError = openSessionEndWindow();
    installed.sessionEndWindow = gSessionEndWindow != nullptr;
    return installed;
}

void teardownFinished() {
    if (gTeardownDone != nullptr) SetEvent(gTeardownDone);
}

bool stoppedBySystem() {
    return gStoppedBySystem.load();
}

}  // namespace corva::platform
