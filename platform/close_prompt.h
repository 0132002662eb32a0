// Started from Explorer (a double-click), the program gets a console of its own that closes
// the moment it ends, taking the result, or the reason it refused to run, with it. Only then
// does it ask for a key press before it ends: never when its output goes to a file or a pipe
// (a script reads it), when another process shares the console (a command prompt keeps
// it open), or when the system stopped it (the console is closing, the session is ending).
#pragma once

#include "platform/platform.h"

namespace corva::platform {

constexpr bool asksForKeyPress(const ConsoleFacts& facts) {
    return facts.processesOnConsole == 1 && facts.inputIsConsole && facts.outputIsConsole &&
           facts.errorIsConsole && !facts.stoppedBySystem;
}

}  // namespace corva::platform
