// The frame-level trace of tessaray-sim, end to end: a park cycle with the vertical blank
// lost and restored on the way, checked against the console log of the same run and the
// simulated display's own record of every present and every vertical blank.
#include "tests/e2e/e2e_checks.h"
#include "tests/support/sample_lines.h"
#include "tests/e2e/trace_checks.h"

namespace corva::test {
namespace {

constexpr double kPeriodNs = 1e9 / 75.0;

struct Gap {
    int64_t from = 0, to = 0;  // the vertical blanks either side
};

// Stretches of more than 300 ms without a vertical blank: the panels parked, or the vertical
// blank lost.
std::vector<Gap> vblankGaps(const sim::GroundTruth& truth) {
    std::vector<Gap> gaps;
    for (size_t i = 1; i < truth.vblanks.size(); ++i)
        if (truth.vblanks[i].timeNs - truth.vblanks[i - 1].timeNs > 300000000)
            gaps.push_back({truth.vblanks[i - 1].timeNs, truth.vblanks[i].timeNs});
    return gaps;
}

// Each frame's present call lies inside the frame's submit-to-return span, and the loop's
// vertical-blank wait ended on the vertical blank that scanned the frame out (a frame that
// missed its vertical blank wakes on the one before: late frames may do, but not most).
void expectFramesMatchScanOut(const trace::TraceFile& trace, const sim::GroundTruth& truth) {
    ASSERT_EQ(truth.presents.size(), trace.frames.size()) << "every frame is one present";
    size_t shown = 0, onItsVblank = 0;
    for (size_t i = 0; i < trace.frames.size(); ++i) {
        const trace::TraceFrame& f = trace.frames[i];
        const sim::PresentRecord& p = truth.presents[i];
        EXPECT_EQ(f.index, i);
        EXPECT_LE(f.submitNs, p.timeNs) << "frame " << i;
        EXPECT_GE(f.presentNs, p.timeNs) << "frame " << i;
        EXPECT_EQ(f.presentStatus, p.status) << "frame " << i;
        if (p.shownAtVblank < 0 || f.wait != 's' || f.freeRunning) continue;
        ASSERT_LT(size_t(p.shownAtVblank), truth.vblanks.size());
        ++shown;
        const int64_t scanOut = truth.vblanks[size_t(p.shownAtVblank)].timeNs;
        if (scanOut <= f.vblankNs && f.vblankNs < scanOut + kPeriodNs) ++onItsVblank;
    }
    // Frames presented while the vertical blank was lost are never scanned out, and a starved
    // core skips frames: enough of them must still be checked (about 120 on an idle machine).
    EXPECT_GE(shown, 20u);
    EXPECT_GE(onItsVblank * 2, shown) << onItsVblank << " of " << shown << " frames woke on their scan-out";
}

TEST(E2eTrace, ParkCycleWithTheVerticalBlankLostAgreesWithTheDisplaysRecord) {
    const std::string tracePath = tempFile("cycle.trace");
    const std::string truthPath = tempFile("cycle-trace-truth.txt");
    SimProcessOptions options =
        simOptions({"cycle", "1", "3", "1"}, "at 1.5 vblank-lost; at 2.5 vblank-restored", truthPath);
    options.environment.push_back("TESSARAY_TRACE_FILE=" + tracePath);
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ReadRun r = readRun(run);
    ASSERT_EQ(r.run.result.freeRunEvents, 1u) << run.out << run.err;

    const trace::TraceFile trace = readTrace(tracePath);
    const sim::GroundTruth truth = takeTruth(truthPath);
    std::remove(tracePath.c_str());
    expectTraceAgreesWithLog(trace, run.out);
    expectWellFormedTraceJson(trace);
    expectFramesMatchScanOut(trace, truth);

    // The park: the driver turned the panels off and on inside the traced calls, and no frame
    // began in between.
    ASSERT_EQ(trace.panels.size(), 2u);
    for (const trace::TracePanelCall& call : trace.panels) {
        size_t inside = 0;
        for (const sim::PanelTransition& p : truth.panels)
            inside += p.on == call.on && call.callNs <= p.timeNs && p.timeNs <= call.returnNs;
        EXPECT_EQ(inside, 1u) << (call.on ? "panels on" : "panels off");
    }
    ASSERT_EQ(trace.parked.size(), 1u);
    ASSERT_EQ(trace.wakesSeen.size(), 1u);
    for (const trace::TraceFrame& f : trace.frames)
        EXPECT_FALSE(f.startNs > trace.parked[0] && f.startNs < trace.wakesSeen[0]) << "frame " << f.index;

    // Two stretches without a vertical blank: the park, and the vertical blank lost. The
    // free run lies in the second, and ends once the vertical blank is back.
    const std::vector<Gap> gaps = vblankGaps(truth);
    ASSERT_EQ(gaps.size(), 2u);
    const int64_t panelsOff = trace.panels[0].callNs;
    const Gap lost = gaps[0].from <= panelsOff && panelsOff <= gaps[0].to ? gaps[1] : gaps[0];
    ASSERT_EQ(trace.freeRuns.size(), 2u);
    EXPECT_TRUE(trace.freeRuns[0].started && !trace.freeRuns[1].started);
    EXPECT_TRUE(trace.freeRuns[0].announced);
    EXPECT_GT(trace.freeRuns[0].ns, lost.from);
    EXPECT_LT(trace.freeRuns[0].ns, lost.to);
    EXPECT_GT(trace.freeRuns[1].ns, lost.to);
    // On a busy machine late frames may keep it free-running until the wake resets the pacing.
    EXPECT_LT(trace.freeRuns[1].ns, std::max(lost.to + 2000000000, trace.wakesSeen[0] + 100000000))
        << "free run outlived the vertical blank's return and the wake";
    // The frame whose pacing step entered the free run began before it.
    size_t flaggedBefore = 0;
    for (const trace::TraceFrame& f : trace.frames) {
        if (!f.freeRunning) continue;
        flaggedBefore += f.startNs < trace.freeRuns[0].ns;
        EXPECT_LT(f.startNs, trace.freeRuns[1].ns) << "frame " << f.index;
    }
    EXPECT_EQ(flaggedBefore, 1u);

    // The displays: each change the telemetry brought, with the dstat lines of the log.
    EXPECT_EQ(trace.dstat.size(), r.count(EventKind::DstatChange) + 1) << "plus the first report's";
}

TEST(E2eTrace, AnUnwritableTraceFileIsOneLineAndTheRunGoesOn) {
    SimProcessOptions options = simOptions({"1"});
    options.environment.push_back("TESSARAY_TRACE_FILE=/nonexistent-folder/run.trace");
    const SimProcessResult run = runSim(options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.err, "cannot write the trace file"), 1u) << run.err;
    EXPECT_NE(
        run.err.find(std::string(lines::kTraceUnwritable.prefix()) + "/nonexistent-folder/run.trace' ("),
        std::string::npos)
        << run.err;
    const ReadRun r = readRun(run);
    expectCompleteTeardown(r);
    ASSERT_EQ(r.run.failures.size(), 1u) << "the complaint is the run's one failure";
}

}  // namespace
}  // namespace corva::test
