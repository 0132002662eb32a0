#include "sim/scenario.h"

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
    EXPECT_EQ(p.scenario.acquireStatus, -208);
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
    };
    for (const Case& c : cases) {
        const ScenarioParse p = parseScenario(c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.error.rfind(c.error, 0), 0u) << c.text << " -> " << p.error;
    }
}

}  // namespace
}  // namespace corva::sim
