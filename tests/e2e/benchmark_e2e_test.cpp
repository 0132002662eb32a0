// tessaray-sim's two benchmarks end to end on the simulated headset, with the printed wake
// latencies checked against the headset's ground truth.
#include "tests/e2e/e2e_checks.h"
#include "tests/support/sample_lines.h"

#include "report/log_parser.h"
#include "sim/headset/ground_truth.h"
#include "tests/e2e/support/run_invariants.h"

namespace corva::test {
namespace {

// Each printed latency against the truth, with the tolerances every run is checked with
// (tests/e2e/support/run_invariants.h), and the run's invariants themselves.
void expectLatenciesMatchTruth(const ReadRun& r, const std::string& truthFile, size_t expected,
                               double panelWakeMs, const std::vector<std::string>& args,
                               const SimProcessResult& run, const std::string& scenario = "") {
    const RunTruth read = readRunTruth(truthFile);
    std::remove(truthFile.c_str());
    ASSERT_TRUE(read.read) << read.error;
    std::vector<sim::DisplaysTransition> wakes;
    for (const sim::DisplaysTransition& t : read.truth.transitions)
        if (t.on && t.wakeStampNs != 0 && t.firstReportNs != 0) wakes.push_back(t);
    const std::vector<double> printed = r.latencies();
    ASSERT_EQ(printed.size(), expected);
    ASSERT_EQ(wakes.size(), expected);
    for (size_t i = 0; i < expected; ++i) {
        EXPECT_TRUE(latencyFitsWake(printed[i], wakes[i])) << "wake " << i << ": " << printed[i] << " ms";
        EXPECT_GE(double(wakes[i].firstReportNs - wakes[i].wakeStampNs) / 1e6, panelWakeMs)
            << "faster than the panels can wake";
    }
    RunAsked asked;
    asked.args = args;
    asked.scenario = scenario;
    asked.boundSeconds = 30.0;
    std::string broken;
    for (const std::string& b : brokenInvariants(asked, run, read)) broken += "  - " + b + "\n";
    EXPECT_EQ(broken, "") << run.out << run.err;
}

TEST(E2eBenchmark, OneParkCycleEndsLongBeforeTheRunLength) {
    const std::string truth = tempFile("cycle-truth.txt");
    const std::vector<std::string> args = {"cycle", "1", "0.5", "0.5"};
    const SimProcessResult run = runSim(simOptions(args, "", truth));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        inOrder(run.out, {"INIT_DONE", "CYCLE 1/1\n", "PARK_REQUEST ", sampleText(lines::kPanelsOff, 0u),
                          "PARK_DONE ", "WAKE_REQUEST ", "Presenter: panels ON (wake)",
                          std::string(lines::kDstatChange.prefix()) + "0002 -> 0x000b [disp=1 proxOn=1]",
                          std::string(lines::kWakeLatency.prefix()), "BENCH_END ",
                          printed(lines::kBypassRestored, lines::kRestoredOk)}));
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.count(EventKind::CycleStart), 1u);
    EXPECT_TRUE(r.run.failures.empty());
    expectCompleteTeardown(r);
    // Run length 10 s; the driver stops the run itself once the displays are back.
    EXPECT_LT(run.seconds, 8.0);
    expectLatenciesMatchTruth(r, truth, 1, 80.0, args, run);
}

TEST(E2eBenchmark, TwoDozeCyclesThroughTheMicrocontroller) {
    const std::string truth = tempFile("doze-truth.txt");
    const std::vector<std::string> args = {"doze", "2", "0.5", "0.5"};
    const SimProcessResult run = runSim(simOptions(args, "wake-time 150 160", truth));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const ReadRun r = readRun(run);
    expectMeasuredCycles(r, 2, kDozeSteps);
    // The displays went dark through the doze, with the panels still powered: no park.
    EXPECT_EQ(r.dstatChanges(0x000b, 0x0002), 2u) << run.out;
    EXPECT_EQ(r.count(EventKind::PanelsOff), 0u);
    expectCompleteTeardown(r);
    expectLatenciesMatchTruth(r, truth, 2, 150.0, args, run, "wake-time 150 160");
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
    EXPECT_TRUE(inOrder(run.out, {printed(lines::kProxUnavailable),
                                  printed(lines::kBypass, lines::kBypassFailed), "INIT_DONE"}));
    const ReadRun r = readRun(run);
    // The fixed waits themselves (none for the displays to go off, half a second for them to
    // come on) moved to virtual time: BenchmarkDriver.FixedWaitsWithoutTheLink.
    EXPECT_TRUE(
        eventsInOrder(r, {EventKind::DozeSleepRequest, EventKind::DozeAsleep, EventKind::WakeRequest,
                          EventKind::DozeSleepRequest, EventKind::DozeAsleep, EventKind::WakeRequest}));
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
