// tessaray-sim's plain runs end to end: a healthy headset, Ctrl+C, and the headset's faults.
#include "tests/e2e/e2e_checks.h"
#include "tests/support/sample_lines.h"

namespace corva::test {
namespace {

bool hasStatus(const ReadRun& r, report::ProxState prox, unsigned distance = ~0u) {
    return std::any_of(r.run.status.begin(), r.run.status.end(), [&](const report::StatusSample& s) {
        return s.prox == prox && (distance == ~0u || s.distance == distance);
    });
}

// A status line saw the link gone (away, distance 0), and the last one the headset worn.
bool wornAgainAfterLoss(const ReadRun& r) {
    return hasStatus(r, report::ProxState::Away, 0) && r.run.status.back().prox == report::ProxState::Worn;
}

TEST(E2eRun, PlainOneSecondRunOnAHealthyWornHeadset) {
    const SimProcessResult run = runSim(simOptions({"1"}));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(run.out, {"prox up: worn (distance ", printed(lines::kBypass, lines::kBypassOn),
                                  "INIT_START ", "INIT_DONE ", "FIRST_DRAW ", "BENCH_END ",
                                  printed(lines::kBypassRestored, lines::kRestoredOk), "frames="}));
    const ReadRun r = readRun(run);
    // The displays come on some 100 ms after the panels are powered, with compression.
    EXPECT_EQ(r.dstatChanges(0x0002, 0x000b), 1u) << run.out;
    EXPECT_EQ(r.count(EventKind::WakeLatency), 0u);
    ASSERT_GE(r.run.status.size(), 1u);
    EXPECT_EQ(r.run.status[0].prox, report::ProxState::Worn);
    EXPECT_FALSE(r.run.result.displayLost);
    expectCompleteTeardown(r);
    // A line that is not the program's (a shell's complaint) is counted, never taken for one.
    SimProcessResult noisy = run;
    noisy.err += "Segmentation fault\n";
    EXPECT_EQ(readRun(noisy, 1).log.unrecognisedSamples.size(), 1u);
}

TEST(E2eRun, CtrlCDuringAPlainRunEndsItCleanly) {
    SimProcessOptions options = simOptions({"10"});
    options.interruptAfter = "FIRST_DRAW ";
    options.interruptDelaySeconds = 0.5;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.interrupted) << run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.seconds, 7.0);
    EXPECT_TRUE(
        inOrder(run.out, {"BENCH_END ", printed(lines::kBypassRestored, lines::kRestoredOk), "frames="}));
    expectCompleteTeardown(readRun(run));
}

TEST(E2eRun, TakenOffWithTheBypassOnTheDisplaysStayOn) {
    const SimProcessResult run = runSim(simOptions({"3"}, "at 1 doff"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The link sees the headset away, the displays do not go dark, the panel keeps its pace.
    const ReadRun r = readRun(run);
    EXPECT_TRUE(hasStatus(r, report::ProxState::Away)) << run.out;
    for (const report::StatusSample& s : r.run.status) EXPECT_TRUE(s.dstat & 1) << run.out;
    for (const report::Event& e : r.run.events)
        EXPECT_FALSE(e.kind == EventKind::DstatChange && !(e.dstatTo & 1)) << run.out;
    EXPECT_EQ(r.run.result.freeRunEvents, 0u);
    expectCompleteTeardown(r);
}

TEST(E2eRun, McuUnpluggedAndReplugged) {
    const SimProcessResult run = runSim(simOptions({"6"}, "at 1.5 unplug; at 2.5 replug"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.err, {std::string(lines::kMcuReadFailed.prefix()), printed(lines::kMcuReconnected)}));
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.count(EventKind::McuReconnected), 1u);
    // No status line while gone; the replugged MCU streams again; the bypass is restored
    // through it at the end.
    EXPECT_TRUE(wornAgainAfterLoss(r)) << run.out;
    EXPECT_EQ(r.run.bypassRestored, 1);
    expectCompleteTeardown(r);
}

TEST(E2eRun, McuFallsSilentAndTalksAgain) {
    const SimProcessResult run = runSim(simOptions({"9"}, "at 1 silence; at 4.5 talk"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(run.err, {printed(lines::kMcuSilent, 3), printed(lines::kMcuReconnected)}));
    const ReadRun r = readRun(run);
    EXPECT_TRUE(wornAgainAfterLoss(r)) << run.out;
    expectCompleteTeardown(r);
}

TEST(E2eRun, VerticalBlankLostAndRestored) {
    const SimProcessResult run = runSim(simOptions({"5"}, "at 1.2 vblank-lost; at 2.8 vblank-restored"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(run.err, {std::string(lines::kFreeRunStart.prefix()), printed(lines::kFreeRunOver)}));
    const ReadRun r = readRun(run);
    EXPECT_TRUE(std::any_of(r.run.status.begin(), r.run.status.end(), [](auto& s) { return s.freeRun; }));
    EXPECT_EQ(r.run.result.freeRunEvents, 1u);
    EXPECT_FALSE(r.run.result.displayLost);
    expectCompleteTeardown(r);
}

TEST(E2eRun, DeviceRemovedEndsTheRunWithDisplayLost) {
    const SimProcessResult run = runSim(simOptions({"5"}, "at 1.5 device-removed"));
    EXPECT_EQ(run.exitCode, corva::run::kExitDisplayLost) << run.err;
    EXPECT_NE(run.err.find("display lost"), std::string::npos) << run.err;
    const ReadRun r = readRun(run);
    EXPECT_TRUE(r.run.result.displayLost);
    EXPECT_LT(run.seconds, 4.5);
    expectCompleteTeardown(r);
}

TEST(E2eRun, NoDisplayFailsInitialisationAndStillRestoresTheBypass) {
    const SimProcessResult run = runSim(simOptions({"5"}, "no-display"));
    EXPECT_EQ(run.exitCode, corva::run::kExitInitFailed) << run.err;
    EXPECT_TRUE(inOrder(run.out, {printed(lines::kBypass, lines::kBypassOn), "INIT_START ",
                                  printed(lines::kBypassRestored, lines::kRestoredOk)}));
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.run.end, report::RunEnd::InitFailed);
    EXPECT_EQ(r.count(EventKind::InitDone), 0u);
    EXPECT_EQ(r.count(EventKind::BenchEnd), 0u);
    EXPECT_EQ(r.count(EventKind::Result), 0u);
}

TEST(E2eRun, ABadScenarioIsRefusedBeforeAnythingRuns) {
    const SimProcessResult run = runSim(simOptions({"1"}, "at 1 explode"));
    EXPECT_EQ(run.exitCode, corva::run::kExitBadScenario);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tessaray-sim: bad TESSARAY_SIM_SCENARIO: line 1: unknown event 'explode'\n");
    // The simulator's own complaint: no run of the program at all, nothing unknown.
    EXPECT_TRUE(readRun(run).log.runs.empty());
}

}  // namespace
}  // namespace corva::test
