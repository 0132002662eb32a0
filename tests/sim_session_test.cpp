// The simulated headset assembled for tessaray-sim: scenario, MCU and headset model joined,
// seen through the real proximity link.
#include "platform/platform.h"
#include "prox/mcu_prox.h"
#include "sim/driver/sim_display.h"
#include "sim/headset/ground_truth.h"
#include "sim/programs/sim_session.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

namespace corva::sim {
namespace {

Scenario scenarioOf(const std::string& text) {
    const ScenarioParse parse = parseScenario(text);
    EXPECT_TRUE(parse.ok) << parse.error;
    return parse.scenario;
}

using test::eventually;

class SimSessionTest : public ::testing::Test {
  protected:
    void TearDown() override { resetDisplay(); }
};

TEST_F(SimSessionTest, OffTheHeadWithoutTheBypassTheVerticalBlankStops) {
    SimSession session(scenarioOf("away"));
    session.start(platform::steadyNowNs(), [] { return int64_t(0); });
    EXPECT_TRUE(displayState().vblankLost);
    {
        McuProx link(session.mcu());
        ASSERT_TRUE(link.open(50));
        EXPECT_FALSE(link.worn.load());
        ASSERT_TRUE(link.setBypass(true));
        EXPECT_FALSE(displayState().vblankLost);
        ASSERT_TRUE(link.setBypass(false));
        EXPECT_TRUE(displayState().vblankLost);
        link.close();
    }
    session.stop();
}

TEST_F(SimSessionTest, ScenarioAndWearEachHoldTheVerticalBlankLost) {
    SimSession session(scenarioOf("away; at 0.4 vblank-lost; at 1.0 don; at 1.6 vblank-restored"));
    const int64_t start = platform::steadyNowNs();
    session.start(start, [] { return int64_t(0); });
    auto at = [&](double seconds) {
        platform::sleepMs(uint32_t(
            std::max<int64_t>(0, start + int64_t(seconds * 1e9) - platform::steadyNowNs()) / 1000000));
        return displayState().vblankLost;
    };
    EXPECT_TRUE(at(0.1));   // worn: no, bypass: no
    EXPECT_TRUE(at(0.7));   // both
    EXPECT_TRUE(at(1.3));   // put on, but the scenario still says lost
    EXPECT_FALSE(at(2.0));  // both clear
    EXPECT_TRUE(session.headset().proximityReading(0) >= 1600);
    session.stop();
}

TEST_F(SimSessionTest, DozeCommandsShowInTheTelemetry) {
    SimSession session(scenarioOf(""));
    session.start(platform::steadyNowNs(), [] { return int64_t(0); });
    McuProx link(session.mcu());
    ASSERT_TRUE(link.open(50));
    EXPECT_TRUE(link.worn.load());
    EXPECT_EQ(link.dstat.load() & 1, 0) << "dark before the panels are powered";
    session.headset().panelPower(true, true, platform::steadyNowNs());
    ASSERT_TRUE(eventually([&] { return link.dstat.load() == 0x000b; })) << link.dstat.load();
    ASSERT_TRUE(link.setDoze(true));
    ASSERT_TRUE(eventually([&] { return (link.dstat.load() & 1) == 0; }));
    ASSERT_TRUE(link.setDoze(false));
    ASSERT_TRUE(eventually([&] { return (link.dstat.load() & 1) == 1; }));
    link.close();
    session.stop();

    const std::vector<DisplaysTransition> transitions = session.headset().transitions();
    ASSERT_EQ(transitions.size(), 3u);
    EXPECT_EQ(transitions[1].cause, HeadsetInput::Doze);
    EXPECT_FALSE(transitions[1].on);
    EXPECT_EQ(transitions[2].cause, HeadsetInput::Doze);
    for (const DisplaysTransition& t : transitions) {
        EXPECT_GE(t.firstReportNs, t.visibleNs);
        EXPECT_LT(t.firstReportNs, t.visibleNs + 200000000);  // 50 ms reports, generous
    }
    // Written and read back by the ground-truth module, nothing lost.
    GroundTruth written;
    std::string error;
    ASSERT_TRUE(parseGroundTruth(session.groundTruthText(), written, error)) << error;
    ASSERT_EQ(written.transitions.size(), transitions.size());
    EXPECT_EQ(written.transitions[1].cause, HeadsetInput::Doze);
    EXPECT_EQ(written.transitions[2].firstReportNs, transitions[2].firstReportNs);
    EXPECT_EQ(written.bypassAtExit, 0);
}

}  // namespace
}  // namespace corva::sim
