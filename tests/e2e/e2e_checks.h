// Checks shared by the end-to-end tests of tessaray-sim, tessaray.exe under Wine and the
// guest: what a run printed is read by tessaray-report's reader, the headset's ground truth
// by the simulator's own module.
#pragma once

#include "lines/line_classify.h"
#include "lines/run_figures.h"
#include "report/log_parser.h"
#include "sim/headset/ground_truth.h"
#include "tests/support/linux/sim_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace corva::test {

using report::EventKind;

// Each text occurs in `out` after the previous one.
inline ::testing::AssertionResult inOrder(const std::string& out, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
        const size_t found = out.find(text, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "'" << text << "' missing after offset " << at << " in:\n"
                                                 << out;
        at = found + text.size();
    }
    return ::testing::AssertionSuccess();
}

// The lines of `text` that the table of printed lines reads as `id`, in order: for lines of
// the bring-up whose figures the reader keeps no field for (read them with lines::scan).
inline std::vector<std::string> printedLines(const std::string& text, lines::LineId id) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
        if (const lines::PrintedLine* entry = lines::classify(line).entry;
            entry != nullptr && entry->id == id)
            found.push_back(line);
    }
    return found;
}

// One program run as tessaray-report reads it: standard output with standard error appended.
struct ReadRun {
    report::ParsedLog log;
    report::LoggedRun run;  // the log's first run; empty when it has none
    size_t outLines = 0;    // the lines of standard output; standard error's come after

    size_t count(EventKind kind) const {
        size_t n = 0;
        for (const report::Event& e : run.events) n += e.kind == kind;
        return n;
    }
    // The n-th event of a kind; nullptr when there are fewer.
    const report::Event* event(EventKind kind, size_t n = 0) const {
        for (const report::Event& e : run.events)
            if (e.kind == kind && n-- == 0) return &e;
        return nullptr;
    }
    int64_t ms(EventKind kind, size_t n = 0) const {
        const report::Event* e = event(kind, n);
        return e != nullptr ? e->ms : report::kNoTime;
    }
    // Every printed WARM_WAKE_LATENCY, in order, whichever cycle it was charged to.
    std::vector<double> latencies() const {
        std::vector<double> ms;
        for (const report::Event& e : run.events)
            if (e.kind == EventKind::WakeLatency) ms.push_back(e.value);
        return ms;
    }
    // Changes of the display-status word from -> to (in one benchmark cycle, or in all).
    size_t dstatChanges(uint16_t from, uint16_t to, int cycle = -1) const {
        size_t n = 0;
        for (const report::Event& e : run.events)
            n += e.kind == EventKind::DstatChange && e.dstatFrom == from && e.dstatTo == to &&
                 (cycle < 0 || e.cycle == cycle);
        return n;
    }
};

// Reads the run and checks the reader knew every line but `unrecognised` of them.
inline ReadRun readRun(const SimProcessResult& result, size_t unrecognised = 0) {
    ReadRun r;
    std::string log = result.out;
    if (!log.empty() && log.back() != '\n') log += '\n';
    r.outLines = size_t(std::count(log.begin(), log.end(), '\n'));
    r.log = report::parseLog(log + result.err, "run");
    if (!r.log.runs.empty()) r.run = r.log.runs.front();
    std::string samples;
    for (const std::string& line : r.log.unrecognisedSamples) samples += "  " + line + "\n";
    EXPECT_EQ(r.log.unrecognised, unrecognised) << "lines the reader does not know:\n" << samples;
    return r;
}

// The events of these kinds come in this order (others may come between); with `cycle`, only
// the events of that benchmark cycle count.
inline ::testing::AssertionResult eventsInOrder(const ReadRun& r, const std::vector<EventKind>& kinds,
                                                int cycle = -1) {
    size_t next = 0;
    for (const report::Event& e : r.run.events)
        if (next < kinds.size() && e.kind == kinds[next] && (cycle < 0 || e.cycle == cycle)) ++next;
    if (next == kinds.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << report::eventName(kinds[next]) << " (step " << next
                                         << ") missing or out of order, cycle " << cycle;
}

// A benchmark of `cycles` cycles, each through these steps and measured: its displays went
// off after the down request and came back on, compressed, after the wake request. (The
// monitor's change lines race the benchmark's, so the displays are taken from the reader's
// cycles rather than from the order of the lines.)
inline void expectMeasuredCycles(const ReadRun& r, int cycles, const std::vector<EventKind>& steps) {
    ASSERT_EQ(r.run.cycles.size(), size_t(cycles));
    for (int n = 1; n <= cycles; ++n) {
        const report::Cycle& c = r.run.cycles[size_t(n - 1)];
        EXPECT_EQ(c.number, n);
        EXPECT_EQ(c.total, cycles);
        EXPECT_EQ(c.outcome, report::CycleOutcome::Measured);
        EXPECT_TRUE(eventsInOrder(r, steps, n));
        EXPECT_NE(c.downRequestMs, report::kNoTime);
        EXPECT_TRUE(c.downRequestMs <= c.displaysOffMs && c.displaysOffMs <= c.wakeRequestMs &&
                    c.wakeRequestMs <= c.displaysOnMs)
            << "cycle " << n;
    }
    EXPECT_GE(r.dstatChanges(0x0002, 0x000b), size_t(cycles));
}

const std::vector<EventKind> kParkSteps = {
    EventKind::CycleStart,  EventKind::ParkRequest, EventKind::PanelsOff,  EventKind::ParkDone,
    EventKind::WakeRequest, EventKind::PanelsOn,    EventKind::WakeLatency};
const std::vector<EventKind> kDozeSteps = {EventKind::CycleStart, EventKind::DozeSleepRequest,
                                           EventKind::DozeAsleep, EventKind::WakeRequest,
                                           EventKind::WakeLatency};

// A run that initialised: exactly one run, one BENCH_END and one result line, the result line
// last on standard output and its counters those of the PRESENT RESULT line.
inline void expectCompleteTeardown(const ReadRun& r) {
    EXPECT_EQ(r.log.runs.size(), 1u);
    EXPECT_EQ(r.count(EventKind::BenchEnd), 1u);
    ASSERT_EQ(r.count(EventKind::Result), 1u);
    EXPECT_TRUE(eventsInOrder(
        r, {EventKind::InitStart, EventKind::InitDone, EventKind::BenchEnd, EventKind::Result}));
    EXPECT_EQ(r.event(EventKind::Result)->line, r.outLines) << "result line not last";
    EXPECT_EQ(r.run.end, report::RunEnd::Completed);
    EXPECT_EQ(r.run.result.presentLines, 1u);
    EXPECT_TRUE(r.run.result.countersAgree);
}

// The headset's ground truth from the file the simulator wrote; the file is removed.
inline sim::GroundTruth takeTruth(const std::string& file) {
    sim::GroundTruth truth;
    std::string error;
    EXPECT_TRUE(sim::readGroundTruthFile(file, truth, error)) << error;
    std::remove(file.c_str());
    return truth;
}

inline std::string tempFile(const std::string& name) {
    return (::testing::TempDir() + "tessaray-e2e-" + std::to_string(::getpid()) + "-" + name);
}

}  // namespace corva::test
