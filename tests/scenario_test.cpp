#include "lines/run_figures.h"
#include "sim/headset/scenario.h"

#include <gtest/gtest.h>

namespace corva::sim {
namespace {

TEST(Scenario, EmptyTextIsAHealthyWornHeadset) {
    const ScenarioParse p = parseScenario("");
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.scenario.noDisplay);
    EXPECT_FALSE(p.scenario.noMcu);
    EXPECT_TRUE(p.scenario.startsWorn);
    EXPECT_EQ(p.scenario.acquireFailures, 0);
    EXPECT_TRUE(p.scenario.timeline.empty());
}

TEST(Scenario, ReadsSettingsAndATimelineSortedByTime) {
    const ScenarioParse p = parseScenario(
        "acquire-fail 3 -5; present-fail 2\n"
        "# the headset is taken off and put back\n"
        "at 3 don   # back on\n"
        "at 1.5 doff\n"
        "at 2 present-fail 11; no-mcu; away");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.scenario.acquireFailures, 3);
    EXPECT_EQ(p.scenario.acquireFailureStatus, -5);
    EXPECT_EQ(p.scenario.presentFailures, 2);
    EXPECT_TRUE(p.scenario.noMcu);
    EXPECT_FALSE(p.scenario.startsWorn);
    ASSERT_EQ(p.scenario.timeline.size(), 3u);
    EXPECT_EQ(p.scenario.timeline[0].event, ScenarioEvent::Doff);
    EXPECT_DOUBLE_EQ(p.scenario.timeline[0].atSeconds, 1.5);
    EXPECT_EQ(p.scenario.timeline[1].event, ScenarioEvent::PresentFail);
    EXPECT_EQ(p.scenario.timeline[1].count, 11);
    EXPECT_EQ(p.scenario.timeline[2].event, ScenarioEvent::Don);
}

TEST(Scenario, AcquireStatusAcceptsTheHdcpStatus) {
    const ScenarioParse p = parseScenario("acquire-status -208");
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.scenario.acquireStatusSet);
    EXPECT_EQ(p.scenario.acquireStatus, run::kStatusHdcpDisabled);
}

TEST(Scenario, TransitionTimesOfTheDisplays) {
    const ScenarioParse defaults = parseScenario("");
    EXPECT_EQ(defaults.scenario.wakeMinMs, 80.0);
    EXPECT_EQ(defaults.scenario.wakeMaxMs, 120.0);
    EXPECT_EQ(defaults.scenario.sleepMinMs, 20.0);
    EXPECT_EQ(defaults.scenario.sleepMaxMs, 40.0);
    const ScenarioParse p = parseScenario("wake-time 200 250; sleep-time 5 5");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.scenario.wakeMinMs, 200.0);
    EXPECT_EQ(p.scenario.wakeMaxMs, 250.0);
    EXPECT_EQ(p.scenario.sleepMinMs, 5.0);
    EXPECT_EQ(p.scenario.sleepMaxMs, 5.0);
}

TEST(Scenario, FirmwareBehavioursOfTheMicrocontroller) {
    EXPECT_FALSE(parseScenario("").scenario.firmware.any());
    const ScenarioParse p = parseScenario(
        "mcu-restart doze command; mcu-jitter 1.5; mcu-poll 8; mcu-drift -200; mcu-lose 2.5; "
        "mcu-version 0.5-rc1");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.scenario.mcuVersion, "0.5-rc1");
    const FirmwareBehaviour& f = p.scenario.firmware;
    EXPECT_TRUE(f.restartOnDoze);
    EXPECT_FALSE(f.restartOnWake);
    EXPECT_TRUE(f.restartOnCommand);
    EXPECT_EQ(f.jitterMs, 1.5);
    EXPECT_EQ(f.pollMs, 8u);
    EXPECT_EQ(f.driftPpm, -200);
    EXPECT_EQ(f.lossPercent, 2.5);
}

TEST(Scenario, RejectsMistakesWithTheLineNumber) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"no-dispaly", "line 1: cannot read 'no-dispaly'"},
        {"\nat -1 doff", "line 2: bad time '-1'"},
        {"at 1 explode", "line 1: unknown event 'explode'"},
        {"at 1 doff now", "line 1: 'doff' takes no argument"},
        {"at 1 present-fail", "line 1: present-fail needs a count"},
        {"acquire-fail x", "line 1: bad count 'x'"},
        {"acquire-fail 2 0", "line 1: bad failure status '0'"},
        {"at nan doff", "line 1: bad time 'nan'"},
        {"wake-time 120 80", "line 1: bad range '120 80'"},
        {"sleep-time 5", "line 1: cannot read 'sleep-time' with 1 argument(s)"},
        {"wake-time -1 80", "line 1: bad range '-1 80'"},
        // Times that cannot be scheduled, counts that are not small decimals.
        {"at 1e10 doff", "line 1: bad time '1e10' (seconds, 0 to 86400)"},
        {"at 86400.5 doff", "line 1: bad time '86400.5'"},
        {"at 0x10 doff", "line 1: bad time '0x10'"},
        {"acquire-fail 2000000000", "line 1: bad count '2000000000' (0 to 10000)"},
        {"acquire-fail 0x10", "line 1: bad count '0x10'"},
        {"present-fail -1", "line 1: bad count '-1'"},
        {"at 1 present-fail 10001", "line 1: present-fail needs a count (0 to 10000)"},
        {"acquire-status 0x10", "line 1: bad status '0x10'"},
        {"mode 1280", "line 1: bad size '1280' (WIDTHxHEIGHT"},
        {"mode 0x640", "line 1: bad size '0x640'"},
        {"mode 16385x8", "line 1: bad size '16385x8'"},
        {"mode 1280x640x2", "line 1: bad size '1280x640x2'"},
        {"mcu-restart", "line 1: cannot read 'mcu-restart' with 0 argument(s)"},
        {"mcu-restart doze later", "line 1: bad restart 'later' (doze, wake or command)"},
        {"mcu-jitter 1001", "line 1: bad jitter '1001' (ms, 0 to 1000)"},
        {"mcu-jitter -1", "line 1: bad jitter '-1'"},
        {"mcu-poll 0", "line 1: bad poll period '0' (ms, 1 to 255)"},
        {"mcu-poll 1.5", "line 1: bad poll period '1.5'"},
        {"mcu-drift 1001", "line 1: bad drift '1001' (ppm, -1000 to 1000)"},
        {"mcu-lose 51", "line 1: bad share '51' (percent, 0 to 50)"},
        {"mcu-version 0.4-abcdefghijklmnopqrstuvwxyz0123", "line 1: bad version"},
        {"mcu-version", "line 1: cannot read 'mcu-version' with 0 argument(s)"},
        // The real line number, with ';' statements and comments before it.
        {"no-mcu; away\n# at 1 doff; x\n\naway; at 1 hop", "line 4: unknown event 'hop'"},
        // A short, printable excerpt of a long or binary word.
        {"at 1 abcdefghijklmnopqrstuvwxyz0123456789",
         "line 1: unknown event 'abcdefghijklmnopqrstuvwx...'\n"},
        {"at 1 \x01\x7f",
         "line 1: unknown event '?"
         "?'\n"},
    };
    for (const Case& c : cases) {
        const ScenarioParse p = parseScenario(c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ((p.error + "\n").rfind(c.error, 0), 0u) << c.text << " -> " << p.error;
    }
}

TEST(Scenario, ACommentEndsItsLineSemicolonsIncluded) {
    const ScenarioParse p = parseScenario("acquire-fail 010 # no-display; no-mcu\npresent-fail 1");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.scenario.acquireFailures, 10);
    EXPECT_FALSE(p.scenario.noDisplay);
    EXPECT_FALSE(p.scenario.noMcu);
    EXPECT_EQ(p.scenario.presentFailures, 1);
    EXPECT_TRUE(parseScenario("at 86400 doff").ok);
}

}  // namespace
}  // namespace corva::sim
