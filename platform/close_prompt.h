// Started from Explorer (a double-click), the program gets a console of its own that closes
// the moment it ends, taking the result, or the reason it refused to run, with it. Only then
// does it ask for a key press before it ends. Never when nobody may be there to press one:
// a parent other than Explorer (a scheduled task and a launcher that opens a new console
// give the program a console of its own too, and would wait for ever), a console without a
// window, output to a file or a pipe (a script reads it), another process on the console (a
// command prompt keeps it open), a stop by the system (the console is closing, the session
// is ending), or TESSARAY_NO_PROMPT set.
#pragma once

#include "platform/platform.h"

namespace corva::platform {

// The variable that turns the prompt off: set to anything but "" or "0".
constexpr const char* kNoPromptVariable = "TESSARAY_NO_PROMPT";

constexpr bool promptOptOut(const char* value) {
    return value != nullptr && value[0] != '\0' && !(value[0] == '0' && value[1] == '\0');
}

// The image's file name is Explorer's, in any case.
constexpr bool isExplorerImage(const char* name) {
    const char* explorer = "explorer.exe";
    for (; *explorer != '\0'; ++name, ++explorer) {
        const char c = *name >= 'A' && *name <= 'Z' ? char(*name - 'A' + 'a') : *name;
        if (c != *explorer) return false;
    }
    return *name == '\0';
}

constexpr bool asksForKeyPress(const ConsoleFacts& facts) {
    return facts.processesOnConsole == 1 && facts.inputIsConsole && facts.outputIsConsole &&
           facts.errorIsConsole && !facts.stoppedBySystem && facts.consoleWindow &&
           isExplorerImage(facts.parentImage) && facts.parentCreatedFirst && !facts.promptOptedOut;
}

}  // namespace corva::platform
