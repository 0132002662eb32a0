// tessaray-sim's plain runs end to end: a healthy headset, Ctrl+C, and the headset's faults.
#include "tests/e2e/e2e_checks.h"

namespace corva::test {
namespace {

TEST(E2eRun, PlainOneSecondRunOnAHealthyWornHeadset) {
    const SimProcessResult run = runSim(simOptions({"1"}));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(
        run.out, {"prox up: worn (distance ", "prox bypass: ON ('p' sent)\n", "INIT_START ", "INIT_DONE ",
                  "FIRST_DRAW ", "BENCH_END ", "prox bypass restored: ok ('[' sent)\n", "frames="}));
    // The displays come on some 100 ms after the panels are powered, with compression.
    EXPECT_NE(run.out.find("DSTAT_CHANGE 0x0002 -> 0x000b [disp=1 proxOn=1]"), std::string::npos) << run.out;
    EXPECT_EQ(countOf(run.out, "WARM_WAKE_LATENCY"), 0u);
    EXPECT_GE(linesStartingWith(run.out, "  ").size(), 1u);
    EXPECT_NE(run.out.find("prox=worn("), std::string::npos);
    EXPECT_NE(run.out.find("displayLost=0"), std::string::npos);
    expectCompleteTeardown(run);
}

TEST(E2eRun, CtrlCDuringAPlainRunEndsItCleanly) {
    SimProcessOptions options = simOptions({"10"});
    options.interruptAfter = "FIRST_DRAW ";
    options.interruptDelaySeconds = 0.5;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.interrupted) << run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.seconds, 7.0);
    EXPECT_TRUE(inOrder(run.out, {"BENCH_END ", "prox bypass restored: ok ('[' sent)\n", "frames="}));
    expectCompleteTeardown(run);
}

TEST(E2eRun, TakenOffWithTheBypassOnTheDisplaysStayOn) {
    const SimProcessResult run = runSim(simOptions({"3"}, "at 1 doff"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The link sees the headset away, the displays do not go dark, the panel keeps its pace.
    EXPECT_NE(run.out.find("prox=away("), std::string::npos) << run.out;
    EXPECT_EQ(countOf(run.out, "[disp=0"), 0u) << run.out;
    EXPECT_NE(run.out.find("freeRunEvents=0"), std::string::npos) << run.out;
    expectCompleteTeardown(run);
}

TEST(E2eRun, McuUnpluggedAndReplugged) {
    const SimProcessResult run = runSim(simOptions({"6"}, "at 1.5 unplug; at 2.5 replug"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.err, {"McuProx: read failed (err ", ") \xE2\x80\x94 device gone, waiting for reconnect\n",
                          "McuProx: device reconnected, telemetry restarted\n"}));
    EXPECT_EQ(countOf(run.err, "device reconnected"), 1u);
    EXPECT_NE(run.out.find("prox=away(0)"), std::string::npos) << "no status line while gone:\n" << run.out;
    // The replugged MCU streams again; the bypass is restored through it at the end.
    EXPECT_NE(run.out.rfind("prox=worn("), std::string::npos);
    EXPECT_GT(run.out.rfind("prox=worn("), run.out.find("prox=away(0)"));
    EXPECT_NE(run.out.find("prox bypass restored: ok ('[' sent)\n"), std::string::npos);
    expectCompleteTeardown(run);
}

TEST(E2eRun, McuFallsSilentAndTalksAgain) {
    const SimProcessResult run = runSim(simOptions({"9"}, "at 1 silence; at 4.5 talk"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.err, {"McuProx: telemetry silent 3s \xE2\x80\x94 device gone, waiting for reconnect\n",
                          "McuProx: device reconnected, telemetry restarted\n"}));
    EXPECT_GT(run.out.rfind("prox=worn("), run.out.find("prox=away(0)")) << run.out;
    expectCompleteTeardown(run);
}

TEST(E2eRun, VerticalBlankLostAndRestored) {
    const SimProcessResult run = runSim(simOptions({"5"}, "at 1.2 vblank-lost; at 2.8 vblank-restored"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.err, {"WARNING: present loop free-running (vsync lost \xE2\x80\x94 headset doffed?)",
                          "free-run over: vsync pacing restored\n"}));
    EXPECT_NE(run.out.find("]  [FREE-RUN: vsync lost]\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("freeRunEvents=1 displayLost=0"), std::string::npos) << run.out;
    expectCompleteTeardown(run);
}

TEST(E2eRun, DeviceRemovedEndsTheRunWithDisplayLost) {
    const SimProcessResult run = runSim(simOptions({"5"}, "at 1.5 device-removed"));
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_NE(run.err.find("display lost"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("displayLost=1\n"), std::string::npos) << run.out;
    EXPECT_LT(run.seconds, 4.5);
    expectCompleteTeardown(run);
}

TEST(E2eRun, NoDisplayFailsInitialisationAndStillRestoresTheBypass) {
    const SimProcessResult run = runSim(simOptions({"5"}, "no-display"));
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_TRUE(inOrder(
        run.out, {"prox bypass: ON ('p' sent)\n", "INIT_START ", "prox bypass restored: ok ('[' sent)\n"}));
    EXPECT_EQ(countOf(run.out, "INIT_DONE"), 0u);
    EXPECT_EQ(countOf(run.out, "BENCH_END"), 0u);
    EXPECT_EQ(countOf(run.out, "frames="), 0u);
}

TEST(E2eRun, ABadScenarioIsRefusedBeforeAnythingRuns) {
    const SimProcessResult run = runSim(simOptions({"1"}, "at 1 explode"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tessaray-sim: bad TESSARAY_SIM_SCENARIO: line 1: unknown event 'explode'\n");
}

}  // namespace
}  // namespace corva::test
