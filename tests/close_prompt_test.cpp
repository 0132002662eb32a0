// The key press asked for before the program ends: only when Explorer started it and its
// console would close with it, taking the result along, and never where a key press cannot
// come or must not be waited for.
#include "platform/close_prompt.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace corva {
namespace {

// A start with nothing redirected, the console's only process.
platform::ConsoleFacts startedBy(const char* parent, bool window = true, unsigned processes = 1) {
    platform::ConsoleFacts facts{processes, true, true, true, false, window};
    std::snprintf(facts.parentImage, sizeof(facts.parentImage), "%s", parent);
    facts.parentCreatedFirst = true;
    return facts;
}

TEST(ClosePrompt, OnlyAStartFromExplorerWithAConsoleWindowAndNothingRedirectedAsksForAKey) {
    const platform::ConsoleFacts explorer = startedBy("explorer.exe");
    const struct {
        const char* what;
        platform::ConsoleFacts facts;
        bool prompt;
    } starts[] = {
        {"Explorer double-click", explorer, true},
        {"Explorer, its image name in capitals", startedBy("EXPLORER.EXE"), true},
        {"scheduled task", startedBy("svchost.exe"), false},
        {"CREATE_NEW_CONSOLE launcher", startedBy("launcher.exe"), false},
        {"CREATE_NO_WINDOW", startedBy("explorer.exe", false), false},
        {"Windows Terminal", startedBy("WindowsTerminal.exe"), false},
        {"cmd", startedBy("cmd.exe", true, 2), false},
        {"remote PowerShell", startedBy("wsmprovhost.exe", false), false},
        {"a name that only begins as Explorer's", startedBy("explorer.exe.bak"), false},
    };
    for (const auto& start : starts)
        EXPECT_EQ(platform::asksForKeyPress(start.facts), start.prompt) << start.what;

    const struct {
        const char* what;
        void (*change)(platform::ConsoleFacts&);
    } noPrompt[] = {
        {"the opt-out set", [](platform::ConsoleFacts& f) { f.promptOptedOut = true; }},
        {"Explorer's id reused by a later process",
         [](platform::ConsoleFacts& f) { f.parentCreatedFirst = false; }},
        {"no console", [](platform::ConsoleFacts& f) { f.processesOnConsole = 0; }},
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
    EXPECT_TRUE(platform::promptOptOut("1") && platform::promptOptOut("00"));
    EXPECT_FALSE(platform::promptOptOut("") || platform::promptOptOut("0") ||
                 platform::promptOptOut(nullptr));
    // The simulated programs never ask: their terminal outlives them.
#ifndef _WIN32
    EXPECT_FALSE(platform::asksForKeyPress(platform::consoleFacts()));
#endif
}

}  // namespace
}  // namespace corva
