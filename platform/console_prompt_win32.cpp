// What the key-press prompt at the end needs to know of the console, and the wait itself.
#include "platform/platform.h"

#include <windows.h>

namespace corva::platform {

namespace {

bool isConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

}  // namespace

ConsoleFacts consoleFacts() {
    ConsoleFacts facts;
    DWORD processes[2] = {};
    facts.processesOnConsole = GetConsoleProcessList(processes, 2);
    facts.inputIsConsole = isConsole(STD_INPUT_HANDLE);
    facts.outputIsConsole = isConsole(STD_OUTPUT_HANDLE);
    facts.errorIsConsole = isConsole(STD_ERROR_HANDLE);
    facts.stoppedBySystem = stoppedBySystem();
    return facts;
}

void waitForKeyPress() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // Keys pressed during the run do not count.
    if (!FlushConsoleInputBuffer(input)) return;
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
}

}  // namespace corva::platform
