// The benchmark driver's cycles on a virtual headset (tests/support/virtual_headset.h): its
// outcomes, abandons, discards, incomplete runs, the fixed waits without the link and the
// waits that need a fresh report, in virtual time. The printed lines are read back with
// their own definitions.
//
// Moved here from real-time end-to-end runs (tests/e2e), each assertion kept below:
//   fault table "doze: unplugged before the doze request, replugged" -> Outcomes, case of that name
//   fault table "cycle: unplugged before the park, never back"       -> Outcomes, case of that name
//   fault table "cycle: Ctrl+C while parked" and E2eBenchmark.InterruptedWhileHoldingParked...
//                                      -> Outcomes "cycle: stopped while parked" + StopWhileParked...
//   fault table "doze: Ctrl+C while dozing"                          -> Outcomes "doze: stopped while dozing"
//   E2eBenchmark.DozeWithoutTheMicrocontrollerWaitsFixedTimes (its marker timing) -> FixedWaits...
#include "app/benchmark_driver.h"
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "tests/support/virtual_headset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace corva {
namespace {

using test::HeadsetEvent;
using test::HeadsetSetup;
using test::VirtualHeadset;

constexpr int64_t kMs = 1000000;

// What the driver printed, one step a line: "CYCLE n", a marker's name, "ABANDONED n: why",
// "INCOMPLETE c/N a; why", "NOTE". Any other line is kept whole, so it shows in a failure.
std::vector<std::string> stepsOf(const std::string& out) {
    std::vector<std::string> steps;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        line += '\n';
        int n = 0, total = 0, abandoned = 0;
        std::string_view text, rest;
        if (lines::scan(lines::kCycle, line, n, total)) {
            steps.push_back("CYCLE " + std::to_string(n));
        } else if (lines::scan(lines::kCycleAbandoned, line, n, total, text)) {
            steps.push_back("ABANDONED " + std::to_string(n) + ": " + std::string(text));
        } else if (lines::scan(lines::kBenchIncomplete, line, n, total, abandoned, text, rest)) {
            steps.push_back("INCOMPLETE " + std::to_string(n) + "/" + std::to_string(total) + " " +
                            std::to_string(abandoned) + std::string(text) + std::string(rest));
            if (steps.back().back() == '\n') steps.back().pop_back();
        } else if (lines::scan(lines::kBenchNote, line, text)) {
            steps.push_back("NOTE");
        } else if (lines::scan(lines::kMarker, line, text, lines::Skip{}, lines::Skip{}, lines::Skip{},
                               lines::Skip{})) {
            steps.push_back(std::string(text));
        } else {
            steps.push_back(line);
        }
    }
    return steps;
}

struct DriverRun {
    std::vector<std::string> steps;
};

DriverRun runDriver(VirtualHeadset& headset, const BenchPlan& plan) {
    ::testing::internal::CaptureStdout();
    runBenchmark(headset.seams(), plan);
    DriverRun run;
    run.steps = stepsOf(::testing::internal::GetCapturedStdout());
    return run;
}

std::string joined(const std::vector<std::string>& steps) {
    std::string text;
    for (const std::string& s : steps) text += "  " + s + "\n";
    return text;
}

HeadsetSetup noLink() {
    HeadsetSetup setup;
    setup.mcu = false;
    return setup;
}
HeadsetSetup neverDozes() {
    HeadsetSetup setup;
    setup.dozes = false;
    return setup;
}
HeadsetSetup refusing(int dozes) {
    HeadsetSetup setup;
    setup.refusedDozes = dozes;
    return setup;
}
HeadsetSetup scripted(std::vector<test::ScriptedEvent> script, double wakeSeconds = 0.1) {
    HeadsetSetup setup;
    setup.script = std::move(script);
    setup.wakeSeconds = wakeSeconds;
    return setup;
}

const BenchPlan kCycle2{2, 0.5, 0.5, false};
const BenchPlan kDoze2{2, 0.5, 0.5, true};

struct OutcomeCase {
    const char* name;
    BenchPlan plan;
    HeadsetSetup setup;
    std::vector<std::string> steps;  // everything the driver prints, in order
    int measured;                    // wakes the monitor timed
};

// Each case's printed steps exactly, its timed wakes, and the end every run has: the
// presenter asked to stop, the stop raised, the displays left on (parked panels woken).
TEST(BenchmarkDriver, Outcomes) {
    const std::string stopped = "stopped before the cycles were done";
    const std::vector<OutcomeCase> cases = {
        {"cycle: every cycle measured",
         kCycle2,
         {},
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST", "CYCLE 2", "PARK_REQUEST", "PARK_DONE",
          "WAKE_REQUEST"},
         2},
        {"doze: every cycle measured",
         kDoze2,
         {},
         {"CYCLE 1", "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "WAKE_REQUEST", "CYCLE 2", "DOZE_SLEEP_REQUEST",
          "DOZE_ASLEEP", "WAKE_REQUEST"},
         2},
        {"doze: the first doze command refused",
         kDoze2,
         refusing(1),
         {"CYCLE 1", "DOZE_SLEEP_REQUEST", "ABANDONED 1: doze command not accepted", "CYCLE 2",
          "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "WAKE_REQUEST", "INCOMPLETE 1/2 1"},
         1},
        {"doze: firmware that takes the doze command and never dozes",
         kDoze2,
         neverDozes(),
         {"CYCLE 1", "DOZE_SLEEP_REQUEST", std::string("ABANDONED 1: ") + lines::kDozeNotOff, "CYCLE 2",
          "DOZE_SLEEP_REQUEST", std::string("ABANDONED 2: ") + lines::kDozeNotOff, "INCOMPLETE 0/2 2"},
         0},
        // Real-time counterpart: fault table, args "doze 2 1.5 0.5", "at 1.8 unplug; at 2.2 replug".
        {"doze: unplugged before the doze request, replugged",
         {2, 1.5, 0.5, true},
         scripted({{1.4, HeadsetEvent::Unplug}, {1.8, HeadsetEvent::Replug}}),
         {"CYCLE 1", "ABANDONED 1: proximity link lost before the displays were taken down", "CYCLE 2",
          "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "WAKE_REQUEST", "INCOMPLETE 1/2 1"},
         1},
        {"doze: unplugged while dozing, never back",
         kDoze2,
         scripted({{0.8, HeadsetEvent::Unplug}}),
         {"CYCLE 1", "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "ABANDONED 1: proximity link lost while dozing",
          "INCOMPLETE 0/2 1; ended early: proximity link lost and not back"},
         0},
        // Real-time counterpart: fault table, args "cycle 1 1.5 0.5", "at 1.8 unplug".
        {"cycle: unplugged before the park, never back",
         {1, 1.5, 0.5, false},
         scripted({{1.4, HeadsetEvent::Unplug}}),
         {"CYCLE 1", "ABANDONED 1: proximity link lost before the displays were taken down",
          "INCOMPLETE 0/1 1"},
         0},
        {"cycle: unplugged while parked, replugged",
         kCycle2,
         scripted({{0.8, HeadsetEvent::Unplug}, {1.0, HeadsetEvent::Replug}}),
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "ABANDONED 1: proximity link lost while parked", "CYCLE 2",
          "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST", "INCOMPLETE 1/2 1"},
         1},
        {"cycle: unplugged during a slow wake, replugged",
         {1, 0.5, 0.5, false},
         scripted({{1.6, HeadsetEvent::Unplug}, {1.9, HeadsetEvent::Replug}}, 2.0),
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST",
          "ABANDONED 1: proximity link lost before the displays came on", "INCOMPLETE 0/1 1"},
         0},
        // A pause longer than the monitor's half second: the wake is discarded, not abandoned,
        // and the cycle counts as completed once a fresh report shows the displays on.
        {"cycle: telemetry pauses during a slow wake, then resumes",
         {1, 0.5, 0.5, false},
         scripted({{1.4, HeadsetEvent::Silence}, {2.6, HeadsetEvent::Talk}}, 1.5),
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST"},
         0},
        // Real-time counterparts: fault table "cycle: Ctrl+C while parked" and
        // E2eBenchmark.InterruptedWhileHoldingParkedEndsWithThePanelsOff ("cycle 1 0.5 10").
        {"cycle: stopped while parked",
         {1, 0.5, 10.0, false},
         scripted({{1.0, HeadsetEvent::Stop}}),
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "INCOMPLETE 0/1 0; " + stopped},
         0},
        // Real-time counterpart: fault table "doze: Ctrl+C while dozing" ("doze 1 0.5 10").
        {"doze: stopped while dozing",
         {1, 0.5, 10.0, true},
         scripted({{1.0, HeadsetEvent::Stop}}),
         {"CYCLE 1", "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "INCOMPLETE 0/1 0; " + stopped},
         0},
        {"cycle: stopped during a slow wake",
         {1, 0.5, 0.5, false},
         scripted({{1.5, HeadsetEvent::Stop}}, 1.5),
         {"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST", "INCOMPLETE 0/1 0; " + stopped},
         0},
        {"cycle: no proximity link",
         {1, 0.5, 0.5, false},
         noLink(),
         {"NOTE", "CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST"},
         0},
        {"doze: no proximity link (markers only, nothing dozed)",
         {1, 0.5, 0.5, true},
         noLink(),
         {"NOTE", "CYCLE 1", "DOZE_SLEEP_REQUEST", "DOZE_ASLEEP", "WAKE_REQUEST"},
         0},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualHeadset headset(c.setup);
        const DriverRun run = runDriver(headset, c.plan);
        EXPECT_EQ(run.steps, c.steps) << joined(run.steps);
        EXPECT_EQ(headset.measured(), c.measured);
        EXPECT_FALSE(headset.ranAway());
        EXPECT_TRUE(headset.stop.load());
        EXPECT_EQ(headset.callCount("stop"), 1u);
        if (c.plan.doze && c.setup.mcu) {
            const std::vector<test::HeadsetCall>& calls = headset.calls();
            const auto lastDoze = std::find_if(
                calls.rbegin(), calls.rend(),
                [](const test::HeadsetCall& call) { return call.what == "doze" || call.what == "undoze"; });
            EXPECT_TRUE(lastDoze == calls.rend() || lastDoze->what == "undoze") << "displays left dozing";
        }
    }
}

// A stop while parked leaves the panels off: no wake request, no wake command.
TEST(BenchmarkDriver, StopWhileParkedSendsNoWake) {
    VirtualHeadset headset(scripted({{1.0, HeadsetEvent::Stop}}));
    runDriver(headset, {1, 0.5, 10.0, false});
    EXPECT_EQ(headset.callCount("park"), 1u);
    EXPECT_EQ(headset.callCount("unpark"), 0u);
    EXPECT_TRUE(headset.isParked());
    EXPECT_LT(headset.callAt("stop") - VirtualHeadset::kStartNs, 1100 * kMs) << "the hold was not cut short";
}

// Without the link, fixed waits stand in for the telemetry: half a second for the displays
// to come on (at the start and after each wake), none for them to go off.
TEST(BenchmarkDriver, FixedWaitsWithoutTheLink) {
    VirtualHeadset headset(noLink());
    runDriver(headset, {2, 0.5, 0.5, true});
    ASSERT_EQ(headset.callCount("doze"), 2u);
    ASSERT_EQ(headset.callCount("undoze"), 2u);  // the wakes; no closing one without the link
    const int64_t start = VirtualHeadset::kStartNs;
    const double fixedWait = double(run::kFixedDisplaysOnWaitMs) * kMs;
    // First the fixed wait, then 0.5 s active.
    EXPECT_NEAR(double(headset.callAt("doze", 0) - start), fixedWait + 500.0 * kMs, 20.0 * kMs);
    // Dozing: no wait for the displays, the 0.5 s hold.
    EXPECT_NEAR(double(headset.callAt("undoze", 0) - headset.callAt("doze", 0)), 500.0 * kMs, 20.0 * kMs);
    // After the wake: the fixed wait, then the second cycle's 0.5 s active.
    EXPECT_NEAR(double(headset.callAt("doze", 1) - headset.callAt("undoze", 0)), fixedWait + 500.0 * kMs,
                20.0 * kMs);
    EXPECT_NEAR(double(headset.callAt("stop") - headset.callAt("undoze", 1)), 500.0 * kMs, 20.0 * kMs);
}

// The waits that need a report taken after the request: a displays-on word left from before
// a pause ends no wait. Silent from the hold until long after the displays came on, the
// driver finishes only once the telemetry is back.
TEST(BenchmarkDriver, WaitsForAFreshReportNotAStaleWord) {
    VirtualHeadset headset(scripted({{0.7, HeadsetEvent::Silence}, {3.0, HeadsetEvent::Talk}}));
    const DriverRun run = runDriver(headset, {1, 0.5, 0.5, false});
    EXPECT_EQ(run.steps, (std::vector<std::string>{"CYCLE 1", "PARK_REQUEST", "PARK_DONE", "WAKE_REQUEST"}))
        << joined(run.steps);
    EXPECT_EQ(headset.discarded(), 1);
    EXPECT_GE(headset.callAt("stop") - VirtualHeadset::kStartNs, 3000 * kMs);
}

// The doze wait is bounded: a doze command taken but never carried out is given up 3 s
// after it, and the displays are sent the wake command at once.
TEST(BenchmarkDriver, DozeThatNeverHappensIsGivenUpAfterItsBound) {
    VirtualHeadset headset(neverDozes());
    runDriver(headset, {1, 0.5, 0.5, true});
    ASSERT_GE(headset.callCount("undoze"), 1u);
    const double waitedNs = double(headset.callAt("undoze") - headset.callAt("doze"));
    EXPECT_GE(waitedNs, kDozeOffWaitSeconds * 1e9);
    EXPECT_LE(waitedNs, kDozeOffWaitSeconds * 1e9 + 20.0 * kMs);
}

}  // namespace
}  // namespace corva
