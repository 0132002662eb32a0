// What the key-press prompt at the end needs to know of the console and of the process that
// started this one, and the wait itself.
#include "platform/close_prompt.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>

namespace corva::platform {

namespace {

bool isConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

DWORD parentProcessId() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    CloseHandle(snapshot);
    return parent;
}

ULONGLONG creationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The image name and creation time come through one handle, so both belong to the process
// that holds the parent's id now; a creation time after ours shows the id was reused.
void readParent(ConsoleFacts& facts) {
    const DWORD parentId = parentProcessId();
    if (parentId == 0) return;
    const HANDLE parent = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentId);
    if (parent == nullptr) return;
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(parent, 0, path, &length)) {
        const wchar_t* name = path;
        for (const wchar_t* c = path; *c != L'\0'; ++c)
            if (*c == L'\\' || *c == L'/') name = c + 1;
        if (WideCharToMultiByte(CP_UTF8, 0, name, -1, facts.parentImage, sizeof(facts.parentImage), nullptr,
                                nullptr) == 0)
            facts.parentImage[0] = '\0';  // too long: not Explorer's
    }
    const ULONGLONG parentCreated = creationTime(parent);
    facts.parentCreatedFirst = parentCreated != 0 && parentCreated < creationTime(GetCurrentProcess());
    CloseHandle(parent);
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
    facts.consoleWindow = GetConsoleWindow() != nullptr;
    facts.promptOptedOut = promptOptOut(std::getenv(kNoPromptVariable));
    readParent(facts);
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
