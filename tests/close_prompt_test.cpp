// The key press asked for before the program ends: only when its console would close with
// it, taking the result along, and never where a key press cannot come or must not be waited for.
#include "platform/close_prompt.h"

#include <gtest/gtest.h>

namespace corva {
namespace {

TEST(ClosePrompt, OnlyTheProgramsOwnConsoleWithNothingRedirectedAndNoSystemStopAsksForAKey) {
    const platform::ConsoleFacts explorer{1, true, true, true, false};
    EXPECT_TRUE(platform::asksForKeyPress(explorer));
    const struct {
        const char* what;
        void (*change)(platform::ConsoleFacts&);
    } noPrompt[] = {
        {"no console", [](platform::ConsoleFacts& f) { f.processesOnConsole = 0; }},
        {"a command prompt shares the console", [](platform::ConsoleFacts& f) { f.processesOnConsole = 2; }},
        {"input redirected", [](platform::ConsoleFacts& f) { f.inputIsConsole = false; }},
        {"output redirected", [](platform::ConsoleFacts& f) { f.outputIsConsole = false; }},
        {"errors redirected", [](platform::ConsoleFacts& f) { f.errorIsConsole = false; }},
        {"closed, logged off or shut down", [](platform::ConsoleFacts& f) { f.stoppedBySystem = true; }},
    };
    for (const auto& c : noPrompt) {
        platform::ConsoleFacts facts = explorer;
        c.change(facts);
        EXPECT_FALSE(platform::asksForKeyPress(facts)) << c.what;
    }
    // The simulated programs never ask: their terminal outlives them.
#ifndef _WIN32
    EXPECT_FALSE(platform::asksForKeyPress(platform::consoleFacts()));
#endif
}

}  // namespace
}  // namespace corva
