// tessaray-sim's two benchmarks end to end on the simulated headset, with the printed wake
// latencies checked against the headset's ground truth.
#include "tests/e2e/e2e_checks.h"

#include "report/log_parser.h"
#include "sim/headset/ground_truth.h"

namespace corva::test {
namespace {

// Each printed latency against the truth (wake stamp to the first telemetry report showing
// the displays on): the monitor can only be later, by its 2 ms sampling, the report's way
// through the reader and the change line. The upper bound is generous for a busy machine.
void expectLatenciesMatchTruth(const ReadRun& r, const std::string& truthFile, size_t expected,
                               double panelWakeMs) {
    const std::vector<double> printed = r.latencies();
    const std::vector<double> truth = sim::wakeLatenciesMs(takeTruth(truthFile));
    ASSERT_EQ(printed.size(), expected);
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
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.count(EventKind::CycleStart), 1u);
    EXPECT_TRUE(r.run.failures.empty());
    expectCompleteTeardown(r);
    // Run length 10 s; the driver stops the run itself once the displays are back.
    EXPECT_LT(run.seconds, 8.0);
    expectLatenciesMatchTruth(r, truth, 1, 80.0);
}

TEST(E2eBenchmark, TwoDozeCyclesThroughTheMicrocontroller) {
    const std::string truth = tempFile("doze-truth.txt");
    const SimProcessResult run = runSim(simOptions({"doze", "2", "0.5", "0.5"}, "wake-time 150 160", truth));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const ReadRun r = readRun(run);
    expectMeasuredCycles(r, 2, kDozeSteps);
    // The displays went dark through the doze, with the panels still powered: no park.
    EXPECT_EQ(r.dstatChanges(0x000b, 0x0002), 2u) << run.out;
    EXPECT_EQ(r.count(EventKind::PanelsOff), 0u);
    expectCompleteTeardown(r);
    expectLatenciesMatchTruth(r, truth, 2, 150.0);
}

// Each timed wake's phases, read back by tessaray-report: the steps in the order they
// happen, and the displays really came on (the headset's ground truth) inside the printed
// interval, at the default telemetry interval and at a fast one.
TEST(E2eBenchmark, WakePhasesHoldTheTrueDisplaysOnTime) {
    struct Case {
        const char* mode;
        const char* telemetryMs;
    };
    for (const Case& c : {Case{"cycle", "5"}, Case{"doze", "50"}, Case{"cycle", "50"}}) {
        SCOPED_TRACE(std::string(c.mode) + " at " + c.telemetryMs + " ms");
        const std::string truthFile = tempFile(std::string(c.mode) + "-phases-truth.txt");
        SimProcessOptions options = simOptions({c.mode, "3", "0.5", "0.5"}, "", truthFile);
        options.environment.push_back(std::string("TESSARAY_TELEMETRY_MS=") + c.telemetryMs);
        const SimProcessResult run = runSim(options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        sim::GroundTruth groundTruth;
        std::string error;
        ASSERT_TRUE(sim::readGroundTruthFile(truthFile, groundTruth, error)) << error;
        const std::vector<double> truth = sim::wakeDisplaysOnMs(groundTruth);
        std::remove(truthFile.c_str());
        const report::ParsedLog log = report::parseLog(run.out);
        ASSERT_EQ(log.runs.size(), 1u);
        EXPECT_EQ(log.unrecognised, 0u) << run.out;
        const std::vector<report::Cycle>& cycles = log.runs[0].cycles;
        ASSERT_EQ(cycles.size(), 3u) << run.out;
        ASSERT_EQ(truth.size(), 3u);
        const bool park = std::string(c.mode) == "cycle";
        for (size_t i = 0; i < cycles.size(); ++i) {
            const report::WakePhases& p = cycles[i].phases;
            ASSERT_TRUE(p.seen && p.interval) << run.out;
            EXPECT_LE(p.onLoMs, truth[i]) << "wake " << i;
            EXPECT_GE(p.onHiMs, truth[i]) << "wake " << i;
            EXPECT_GE(p.reactMs, 0.0);
            EXPECT_LE(p.reactMs, p.powerMs);
            EXPECT_EQ(p.modeMs >= 0.0, park);
            EXPECT_EQ(p.vblankMs >= 0.0, park);
            if (park) {
                EXPECT_TRUE(p.reactMs <= p.modeMs && p.modeMs <= p.powerMs && p.powerMs <= p.vblankMs);
            }
            EXPECT_LE(p.powerMs, p.onLoMs + 1.0) << "the panels were asked on before they came on";
            EXPECT_LE(p.onHiMs, cycles[i].wakeLatencyMs + 0.1) << "seen on before the latency was printed";
        }
    }
}

TEST(E2eBenchmark, DozeWithoutTheMicrocontrollerWaitsFixedTimes) {
    const SimProcessResult run = runSim(simOptions({"doze", "2", "0.5", "0.5"}, "no-mcu"));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(inOrder(run.out, {"prox unavailable (non-fatal)\n", "prox bypass: FAILED\n", "INIT_DONE"}));
    const ReadRun r = readRun(run);
    for (size_t n = 0; n < 2; ++n) {
        const int64_t request = r.ms(EventKind::DozeSleepRequest, n);
        const int64_t asleep = r.ms(EventKind::DozeAsleep, n);
        ASSERT_GE(request, 0) << run.out;
        EXPECT_GE(asleep, request);
        EXPECT_LE(asleep - request, 100) << "no wait for the displays without the link";
    }
    // After the first wake: a fixed half second, then the second cycle and its half second active.
    const int64_t secondRequest = r.ms(EventKind::DozeSleepRequest, 1);
    EXPECT_GE(secondRequest - r.ms(EventKind::WakeRequest), 1000 - 5);
    EXPECT_LE(secondRequest - r.ms(EventKind::WakeRequest), 2500);
    EXPECT_EQ(r.count(EventKind::WakeLatency), 0u);
    EXPECT_EQ(r.count(EventKind::DstatChange), 0u);
    EXPECT_EQ(r.run.bypassRestored, -1) << "no restore line without a bypass";
    ASSERT_FALSE(r.run.status.empty());
    for (const report::StatusSample& s : r.run.status) {
        EXPECT_EQ(s.prox, report::ProxState::NotAvailable);
        EXPECT_EQ(s.distance, 0u);
        EXPECT_EQ(s.dstat, 0u);
    }
    expectCompleteTeardown(r);
}

TEST(E2eBenchmark, InterruptedWhileHoldingParkedEndsWithThePanelsOff) {
    SimProcessOptions options = simOptions({"cycle", "1", "0.5", "10"});
    options.interruptAfter = "PARK_DONE ";
    options.interruptDelaySeconds = 0.3;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.interrupted) << run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.count(EventKind::WakeRequest), 0u);
    EXPECT_EQ(r.count(EventKind::PanelsOn), 0u);
    EXPECT_LT(run.seconds, 8.0) << "the hold was not cut short";
    expectCompleteTeardown(r);
    EXPECT_FALSE(r.run.result.displayLost);
}

}  // namespace
}  // namespace corva::test
