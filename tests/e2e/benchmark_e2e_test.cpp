// tessaray-sim's two benchmarks end to end on the simulated headset, with the printed wake
// latencies checked against the headset's ground truth.
#include "tests/e2e/e2e_checks.h"

namespace corva::test {
namespace {

// Each printed latency against the truth (wake stamp to the first telemetry report showing
// the displays on): the monitor can only be later, by its 2 ms sampling, the report's way
// through the reader and the change line. The upper bound is generous for a busy machine.
void expectLatenciesMatchTruth(const std::string& out, const std::string& truthFile, size_t expected,
                               double panelWakeMs) {
    const std::vector<double> printed = printedWakeLatencies(out);
    const std::vector<double> truth = truthWakeLatencies(truthFile);
    std::remove(truthFile.c_str());
    ASSERT_EQ(printed.size(), expected) << out;
    ASSERT_EQ(truth.size(), expected);
    for (size_t i = 0; i < expected; ++i) {
        EXPECT_GE(printed[i], truth[i] - 0.1) << "wake " << i;
        EXPECT_LE(printed[i], truth[i] + 30.0) << "wake " << i;
        EXPECT_GE(truth[i], panelWakeMs) << "faster than the panels can wake";
    }
}

TEST(E2eBenchmark, OneParkCycleEndsLongBeforeTheRunLength) {
    const std::string truth = tempFile("cycle-truth.txt");
    const SimProcessResult run = runSim(simOptions({"cycle", "1", "0.5", "0.5"}, "", truth));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.out, {"INIT_DONE", "CYCLE 1/1\n", "PARK_REQUEST ",
                          "Presenter: panels OFF (idle policy) = 0x0", "PARK_DONE ", "WAKE_REQUEST ",
                          "Presenter: panels ON (wake)", "DSTAT_CHANGE 0x0002 -> 0x000b [disp=1 proxOn=1]",
                          "WARM_WAKE_LATENCY ", "BENCH_END ", "prox bypass restored: ok ('[' sent)\n"}));
    EXPECT_EQ(countOf(run.out, "CYCLE "), 1u);
    expectCompleteTeardown(run);
    // Run length 10 s; the driver stops the run itself once the displays are back.
    EXPECT_LT(run.seconds, 8.0);
    expectLatenciesMatchTruth(run.out, truth, 1, 80.0);
}

TEST(E2eBenchmark, TwoDozeCyclesThroughTheMicrocontroller) {
    const std::string truth = tempFile("doze-truth.txt");
    const SimProcessResult run = runSim(simOptions({"doze", "2", "0.5", "0.5"}, "wake-time 150 160", truth));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* cycle : {"CYCLE 1/2\n", "CYCLE 2/2\n"}) {
        const size_t at = run.out.find(cycle);
        ASSERT_NE(at, std::string::npos) << run.out;
        EXPECT_TRUE(inOrder(run.out.substr(at), {"DOZE_SLEEP_REQUEST ", "DOZE_ASLEEP ", "WAKE_REQUEST ",
                                                 "DSTAT_CHANGE 0x0002 -> 0x000b", "WARM_WAKE_LATENCY "}));
    }
    // The displays went dark through the doze, with the panels still powered: no park.
    EXPECT_EQ(countOf(run.out, "DSTAT_CHANGE 0x000b -> 0x0002 [disp=0 proxOn=1]"), 2u) << run.out;
    EXPECT_EQ(countOf(run.out, "panels OFF"), 0u);
    EXPECT_EQ(countOf(run.out, "CYCLE "), 2u);
    expectCompleteTeardown(run);
    expectLatenciesMatchTruth(run.out, truth, 2, 150.0);
}

TEST(E2eBenchmark, DozeWithoutTheMicrocontrollerWaitsFixedTimes) {
    const SimProcessResult run = runSim(simOptions({"doze", "2", "0.5", "0.5"}, "no-mcu"));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(run.out, {"prox unavailable (non-fatal)\n", "prox bypass: FAILED\n", "INIT_DONE"}));
    for (size_t n = 0; n < 2; ++n) {
        const long request = markerMs(run.out, "DOZE_SLEEP_REQUEST", n);
        const long asleep = markerMs(run.out, "DOZE_ASLEEP", n);
        ASSERT_GE(request, 0) << run.out;
        EXPECT_GE(asleep, request);
        EXPECT_LE(asleep - request, 100) << "no wait for the displays without the link";
    }
    // After the first wake: a fixed half second, then the second cycle and its half second active.
    const long wake = markerMs(run.out, "WAKE_REQUEST", 0);
    const long secondRequest = markerMs(run.out, "DOZE_SLEEP_REQUEST", 1);
    EXPECT_GE(secondRequest - wake, 1000 - 5);
    EXPECT_LE(secondRequest - wake, 2500);
    EXPECT_EQ(countOf(run.out, "WARM_WAKE_LATENCY"), 0u);
    EXPECT_EQ(countOf(run.out, "DSTAT_CHANGE"), 0u);
    EXPECT_EQ(countOf(run.out, "prox bypass restored"), 0u);
    EXPECT_NE(run.out.find("prox=n/a(0) dstat=0x0000"), std::string::npos) << run.out;
    expectCompleteTeardown(run);
}

TEST(E2eBenchmark, InterruptedWhileHoldingParkedEndsWithThePanelsOff) {
    SimProcessOptions options = simOptions({"cycle", "1", "0.5", "10"});
    options.interruptAfter = "PARK_DONE ";
    options.interruptDelaySeconds = 0.3;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.interrupted) << run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, "WAKE_REQUEST"), 0u);
    EXPECT_EQ(countOf(run.out, "panels ON"), 0u);
    EXPECT_LT(run.seconds, 8.0) << "the hold was not cut short";
    expectCompleteTeardown(run);
    EXPECT_NE(run.out.find("displayLost=0"), std::string::npos);
}

}  // namespace
}  // namespace corva::test
