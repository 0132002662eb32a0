#include "report/log_parser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "lines/bring_up_calls.h"
#include "report/log_text.h"
#include "report/metrics.h"
#include "sim/headset/ground_truth.h"
#include "tests/report/report_test_logs.h"
#include "tests/support/sample_lines.h"

namespace corva::report {
namespace {

using test::markerAt;
using test::printed;
using testing::readTestLog;

// The captured ground truth: the wake latencies and the displays transitions the telemetry showed.
struct Truth {
    std::vector<double> latencies;
    std::vector<int64_t> firstReportsNs;
};

Truth readTruth(const std::string& name) {
    sim::GroundTruth truth;
    std::string error;
    EXPECT_TRUE(sim::parseGroundTruth(readTestLog(name), truth, error)) << error;
    Truth seen{sim::wakeLatenciesMs(truth), {}};
    for (const sim::DisplaysTransition& t : truth.transitions)
        if (t.firstReportNs != 0) seen.firstReportsNs.push_back(t.firstReportNs);
    return seen;
}

struct CapturedCase {
    const char* log;
    RunMode mode;
    RunEnd end;
    int exitCode;
    std::vector<CycleOutcome> outcomes;
    size_t failures;
    size_t freeRuns;
};

// What each captured run was: its mode, how it ended and why cycles lack a latency.
TEST(ReportParser, CapturedRunsAreReconstructed) {
    using O = CycleOutcome;
    const CapturedCase cases[] = {
        {"sim_cycle.log",
         RunMode::Cycle,
         RunEnd::Completed,
         0,
         {O::Measured, O::Measured, O::Measured},
         0,
         0},
        {"sim_doze.log", RunMode::Doze, RunEnd::Completed, 0, {O::Measured, O::Measured}, 0, 1},
        {"sim_cycle_nomcu.log", RunMode::Cycle, RunEnd::Completed, 0, {O::NoTelemetry, O::NoTelemetry}, 1, 1},
        {"sim_doze_unplug.log", RunMode::Doze, RunEnd::Completed, 0, {O::Interrupted}, 1, 1},
        {"sim_nodisplay.log", RunMode::Unknown, RunEnd::InitFailed, 3, {}, 1, 0},
        {"sim_plain_freerun.log", RunMode::Plain, RunEnd::Completed, 0, {}, 0, 1},
        {"sim_cycle_devremoved.log", RunMode::Cycle, RunEnd::Completed, 4, {O::Interrupted}, 1, 0},
        {"wine_cycle.log", RunMode::Cycle, RunEnd::Completed, 0, {O::NoTelemetry, O::NoTelemetry}, 1, 0},
        {"sim_doze_unplug_abandoned.log",
         RunMode::Doze,
         RunEnd::Completed,
         0,
         {O::Abandoned, O::Measured, O::Measured},
         1,
         2},
        {"wine_plain_devremoved.log", RunMode::Plain, RunEnd::Completed, 4, {}, 2, 0},
    };
    for (const CapturedCase& c : cases) {
        SCOPED_TRACE(c.log);
        const ParsedLog log = parseLog(readTestLog(c.log), c.log);
        ASSERT_TRUE(log.isLog);
        EXPECT_EQ(log.unrecognised, 0u);
        ASSERT_EQ(log.runs.size(), 1u);
        const LoggedRun& run = log.runs[0];
        EXPECT_EQ(run.mode, c.mode);
        EXPECT_EQ(run.end, c.end);
        EXPECT_EQ(runExitCode(run), c.exitCode);
        std::vector<CycleOutcome> outcomes;
        for (const Cycle& cycle : run.cycles) outcomes.push_back(cycle.outcome);
        EXPECT_EQ(outcomes, c.outcomes);
        EXPECT_EQ(run.failures.size(), c.failures);
        EXPECT_EQ(run.freeRuns.size(), c.freeRuns);
        if (run.result.presentSeen) {
            EXPECT_EQ(run.result.freeRunEvents, run.freeRuns.size());
            EXPECT_TRUE(run.result.countersAgree);
        }
    }
}

// The simulated headset's ground truth against the numbers read from its log.
TEST(ReportParser, NumbersAgreeWithTheSimulatedHeadsetsGroundTruth) {
    for (const char* name : {"sim_cycle", "sim_doze", "sim_doze_unplug_abandoned"}) {
        SCOPED_TRACE(name);
        const ParsedLog log = parseLog(readTestLog(std::string(name) + ".log"));
        const Truth truth = readTruth(std::string(name) + ".truth");
        ASSERT_EQ(log.runs.size(), 1u);
        const LoggedRun& run = log.runs[0];

        // The printed latency adds the monitor's sampling and the printing to the true one.
        std::vector<const Cycle*> measured;
        for (const Cycle& c : run.cycles)
            if (c.outcome == CycleOutcome::Measured) measured.push_back(&c);
        ASSERT_EQ(measured.size(), truth.latencies.size());
        for (size_t i = 0; i < truth.latencies.size(); ++i) {
            const Cycle& c = *measured[i];
            EXPECT_GE(c.wakeLatencyMs, truth.latencies[i] - 0.5);
            EXPECT_LE(c.wakeLatencyMs, truth.latencies[i] + 25.0);
            const double stamped = static_cast<double>(c.displaysOnMs - c.wakeRequestMs);
            EXPECT_NEAR(stamped, truth.latencies[i] + 5.0, 12.0);
        }

        // Every displays transition the telemetry showed is one change of disp in the log,
        // and the time between two of them agrees to a few milliseconds.
        std::vector<int64_t> changesMs;
        for (const Event& e : run.events)
            if (e.kind == EventKind::DstatChange && ((e.dstatFrom ^ e.dstatTo) & 1))
                changesMs.push_back(e.ms);
        ASSERT_EQ(changesMs.size(), truth.firstReportsNs.size());
        for (size_t i = 1; i < changesMs.size(); ++i) {
            const double logged = static_cast<double>(changesMs[i] - changesMs[i - 1]);
            const double real =
                static_cast<double>(truth.firstReportsNs[i] - truth.firstReportsNs[i - 1]) / 1e6;
            EXPECT_NEAR(logged, real, 15.0) << "transition " << i;  // two late samples on a busy machine
        }
    }
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string toUtf16Le(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

// Moves every time stamp so that the run crosses midnight a second after its first one.
std::string acrossMidnight(const std::string& text) {
    const size_t first = text.find("INIT_START ") + 11;
    const int64_t shiftMs = 86400000 - 1000 - parseClock(std::string_view(text).substr(first));
    std::string out = text;
    for (size_t i = 0; i + 12 <= out.size(); ++i) {
        const int64_t ms = parseClock(std::string_view(out).substr(i, 12));
        if (ms < 0 || (i > 0 && std::isdigit(static_cast<unsigned char>(out[i - 1])))) continue;
        out.replace(i, 12, formatClock(ms + shiftMs));
        i += 11;
    }
    return out;
}

// The same run saved the ways a Windows or Linux user may save it reads the same.
TEST(ReportParser, EncodingsLineEndsAndMidnightDoNotChangeTheNumbers) {
    const std::string original = readTestLog("sim_cycle.log");
    const std::string ascii = replaceAll(original, "\xE2\x80\x94", "-");
    const struct {
        const char* name;
        std::string text;
        const char* encoding;
    } variants[] = {
        {"CRLF", replaceAll(original, "\n", "\r\n"), "UTF-8"},
        {"UTF-16LE", toUtf16Le(ascii), "UTF-16LE"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + original, "UTF-8"},
        {"code page 1252 dash", replaceAll(original, "\xE2\x80\x94", "\x97"), "legacy code page"},
        {"across midnight", acrossMidnight(original), "UTF-8"},
    };
    const LoggedRun reference = parseLog(original).runs.at(0);
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const ParsedLog log = parseLog(v.text);
        EXPECT_EQ(log.encoding, v.encoding);
        EXPECT_EQ(log.unrecognised, 0u);
        ASSERT_EQ(log.runs.size(), 1u);
        const LoggedRun& run = log.runs[0];
        EXPECT_EQ(run.end, RunEnd::Completed);
        for (const MetricInfo& m : kMetrics)
            EXPECT_EQ(runMetric(run, m.metric), runMetric(reference, m.metric));
        EXPECT_EQ(run.lastMs - run.firstMs, reference.lastMs - reference.firstMs);
    }
}

// Logs cut short, appended to each other, or with foreign lines: nothing is lost or invented.
TEST(ReportParser, CutAppendedAndForeignLines) {
    const std::string cycle = readTestLog("sim_cycle.log");
    const std::string cutAtWake = cycle.substr(0, cycle.find(test::printed(lines::kWakeLatency, 161.1)));

    const ParsedLog cut = parseLog(cutAtWake);
    ASSERT_EQ(cut.runs.size(), 1u);
    EXPECT_EQ(cut.runs[0].end, RunEnd::LogCut);
    ASSERT_EQ(cut.runs[0].cycles.size(), 2u);
    EXPECT_EQ(cut.runs[0].cycles[0].outcome, CycleOutcome::Measured);
    EXPECT_EQ(cut.runs[0].cycles[1].outcome, CycleOutcome::LogCut);

    const ParsedLog two = parseLog(cycle + readTestLog("sim_doze.log"));
    ASSERT_EQ(two.runs.size(), 2u);
    EXPECT_EQ(two.runs[0].mode, RunMode::Cycle);
    EXPECT_EQ(two.runs[1].mode, RunMode::Doze);
    EXPECT_EQ(two.runs[1].firstLine, 61u);

    const ParsedLog noisy = parseLog("$ ./tessaray cycle\n" + cycle + "Segmentation fault\n");
    EXPECT_EQ(noisy.unrecognised, 2u);
    EXPECT_EQ(noisy.unrecognisedSamples.at(0), "1: $ ./tessaray cycle");
    EXPECT_EQ(runMetric(noisy.runs.at(0), Metric::WakeLatency).size(), 3u);

    // Standard error appended after a bring-up that failed: one run, failed, not cut short.
    const ParsedLog refused =
        parseLog(printed(lines::kProxUnavailable) + printed(lines::kBypass, lines::kBypassFailed) +
                 markerAt(lines::kInitStart, 10, 0, 0, 0) + printed(lines::kMcuNotFound) +
                 printed(lines::kDriverCallFailed, "NvAPI_Initialize()", 0xfffffffeu, 171) +
                 printed(lines::kFreeRunStart, 75.0));
    ASSERT_EQ(refused.runs.size(), 1u);
    EXPECT_EQ(refused.runs[0].end, RunEnd::InitFailed);

    for (const std::string& notLog : {std::string(), std::string("hello\nworld\n"),
                                      std::string("\x7f"
                                                  "ELF\x02\x01\x01\0\0",
                                                  9)})
        EXPECT_FALSE(parseLog(notLog).isLog);
}

// A latency printed after the next CYCLE line still belongs to the wake that caused it;
// failure lines keep their call, status and call site.
TEST(ReportParser, LatencyAttributionAndFailureLines) {
    const BringUpCallSite& modes = siteOf(BringUpCall::CountModes);
    const BringUpCallSite& fence = siteOf(BringUpCall::CreateFence);
    const ParsedLog log =
        parseLog(printed(lines::kProxUp, lines::kWorn, 1800) + markerAt(lines::kInitStart, 23, 59, 59, 900) +
                 printed(lines::kDriverCallFailed, modes.text, 0xfffffffau, modes.line) +
                 printed(lines::kGraphicsCallFailed, fence.text, 0x80004005ul, fence.line) +
                 markerAt(lines::kInitDone, 23, 59, 59, 950) + printed(lines::kCycle, 1, 2) +
                 markerAt(lines::kParkRequest, 0, 0, 0, 450) + markerAt(lines::kParkDone, 0, 0, 0, 452) +
                 markerAt(lines::kWakeRequest, 0, 0, 0, 952) + printed(lines::kCycle, 2, 2) +
                 printed(lines::kDstatChange, 0x0002u, 0x000bu, 1, 1, 0, 0, 1, 60) +
                 printed(lines::kWakeLatency, 108.4) + printed(lines::kPresentFailed, 0x80000001u, 12ull) +
                 markerAt("NEW_MARKER", 0, 0, 1, 200));
    ASSERT_EQ(log.runs.size(), 1u);
    const LoggedRun& run = log.runs[0];
    ASSERT_EQ(run.cycles.size(), 2u);
    EXPECT_DOUBLE_EQ(run.cycles[0].wakeLatencyMs, 108.4);
    EXPECT_EQ(run.cycles[0].displaysOnMs - run.cycles[0].wakeRequestMs, 108);
    EXPECT_EQ(run.cycles[0].downRequestMs, 86400000 + 450);
    EXPECT_EQ(run.cycles[1].outcome, CycleOutcome::LogCut);
    ASSERT_EQ(run.failures.size(), 3u);
    EXPECT_EQ(run.failures[0].kind, FailureKind::Driver);
    EXPECT_EQ(run.failures[0].sourceLine, modes.line);
    EXPECT_EQ(run.failures[0].status, 0xfffffffau);
    EXPECT_EQ(run.failures[1].kind, FailureKind::Graphics);
    EXPECT_EQ(run.failures[1].call, fence.text);
    EXPECT_EQ(run.failures[2].kind, FailureKind::Present);
    EXPECT_EQ(run.otherRecognised, 1u);  // the marker of a newer version

    // A cycle the benchmark gave up: its reason kept, and a later latency not charged to it.
    const ParsedLog abandoned = parseLog(
        printed(lines::kProxUp, lines::kWorn, 1800) + markerAt(lines::kInitStart, 10, 0, 0, 0) +
        markerAt(lines::kInitDone, 10, 0, 0, 100) + printed(lines::kCycle, 1, 2) +
        markerAt(lines::kDozeSleepRequest, 10, 0, 1, 0) + markerAt(lines::kDozeAsleep, 10, 0, 1, 40) +
        markerAt(lines::kWakeRequest, 10, 0, 1, 600) +
        printed(lines::kCycleAbandoned, 1, 2, "proximity link lost while dozing") +
        printed(lines::kCycle, 2, 2) + printed(lines::kWakeLatency, 900.0) +
        markerAt(lines::kDozeSleepRequest, 10, 0, 3, 0) + markerAt(lines::kDozeAsleep, 10, 0, 3, 40) +
        markerAt(lines::kWakeRequest, 10, 0, 3, 600) +
        printed(lines::kWakeLatencyDiscarded, lines::kTelemetryPaused) + printed(lines::kWakeLatency, 950.0) +
        printed(lines::kBenchIncomplete, 0, 2, 1, "", "") + printed(lines::kMcuReadFailed, 1167ul) +
        printed(lines::kPresentResult, 10ull, 1.0, 10.0, 0ull, 0ull, 0ull) +
        printed(lines::kRunResult, 11ull, 0ull, 0ull, 0));
    const LoggedRun& gaveUp = abandoned.runs.at(0);
    EXPECT_EQ(gaveUp.proxAtStart, ProxState::Worn);
    EXPECT_EQ(gaveUp.distanceAtStart, 1800u);
    EXPECT_EQ(gaveUp.saidCompleted, 0);
    EXPECT_EQ(gaveUp.saidOf, 2);
    EXPECT_EQ(gaveUp.saidAbandoned, 1);
    EXPECT_EQ(gaveUp.failures.at(0).status, 1167u);
    EXPECT_FALSE(gaveUp.result.countersAgree) << "10 frames said, 11 counted";
    EXPECT_EQ(gaveUp.cycles.at(0).outcome, CycleOutcome::Abandoned);
    EXPECT_EQ(gaveUp.cycles.at(0).note, "proximity link lost while dozing");
    EXPECT_EQ(gaveUp.cycles.at(1).outcome, CycleOutcome::Discarded);
    EXPECT_EQ(gaveUp.orphanLatencies, 2u);
    EXPECT_TRUE(gaveUp.endedEarly);
    EXPECT_EQ(abandoned.unrecognised, 0u);
}

// One run stays one run however its two streams were saved: a link message before the
// start sequence is through (">log 2>&1"), standard error appended (`cat out err`, here
// with the no-device message that also starts a run), zero bytes after the text.
TEST(ReportParser, OneRunWhateverTheStreamsDid) {
    std::string log = readTestLog("sim_doze.log");
    const std::string lost = printed(lines::kMcuReadFailed, 1167ul);
    const std::string appended =
        lost + printed(lines::kMcuReconnected) + printed(lines::kMcuBypassResent, lines::kResentOk);
    const size_t afterFirstLine = log.find('\n') + 1;
    const std::string variants[] = {
        log.substr(0, afterFirstLine) + lost + log.substr(afterFirstLine),
        log + printed(lines::kMcuNotFound) + appended,
        log + appended,
        log + std::string(64, '\0'),
    };
    for (const std::string& variant : variants) {
        const ParsedLog parsed = parseLog(variant);
        EXPECT_TRUE(parsed.isLog) << variant;
        ASSERT_EQ(parsed.runs.size(), 1u) << variant;
        EXPECT_EQ(parsed.unrecognised, 0u) << variant;
        EXPECT_EQ(parsed.runs[0].end, RunEnd::Completed) << variant;
    }
    // Control bytes past its head spoil only their own line.
    EXPECT_EQ(parseLog(log + "\x01\x02garbage\n").runs.size(), 1u);
}

// Every line of the table is read, by its role and outcome: a failure (or a status that
// says one) is kept with what it implies, and one that fails the bring-up ends the run with
// exit 3 as the program does (the fence event's line once read as a cut log).
// What Windows PowerShell 5.1's `>` saves of the program's output: its UTF-8 read in the
// console's code page 437 (an em dash becomes "ΓÇö"), written as UTF-16LE.
std::string powerShellLog(std::string text) {
    for (size_t at; (at = text.find(TESSARAY_EM_DASH)) != std::string::npos;)
        text.replace(at, 3, "\xCE\x93\xC3\x87\xC3\xB6");
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const unsigned unit =
            c < 0x80 ? c : (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3Fu);
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

TEST(ReportParser, EveryLineOfTheTableIsReadByItsRoleAndOutcome) {
    using lines::Outcome;
    for (const test::SampleLine& sample : test::sampleLines()) {
        SCOPED_TRACE(sample.text);
        const ParsedLog log = parseLog(sample.text + "\n");
        EXPECT_EQ(log.unrecognised, 0u);
        ASSERT_EQ(log.runs.size(), 1u);
        const LoggedRun& run = log.runs[0];
        EXPECT_EQ(run.newerMarkers, 0u);
        if (sample.entry->outcome == Outcome::None) {
            EXPECT_TRUE(run.failures.empty());
        } else {
            ASSERT_EQ(run.failures.size(), 1u);
            EXPECT_EQ(run.failures[0].outcome, sample.entry->outcome);
        }
        if (sample.entry->outcome == Outcome::None) continue;
        const ParsedLog bringUp = parseLog(markerAt(lines::kInitStart, 10, 0, 0, 0) + sample.text + "\n");
        EXPECT_EQ(runExitCode(bringUp.runs.at(0)), sample.entry->outcome == Outcome::InitFailed ? 3 : -1);
    }
    // A line with a dash reads the same from a PowerShell capture.
    size_t dashed = 0;
    for (const test::SampleLine& sample : test::sampleLines()) {
        if (sample.text.find(TESSARAY_EM_DASH) == std::string::npos) continue;
        const ParsedLog utf8 = parseLog(sample.text + "\r\n");
        const ParsedLog captured = parseLog(powerShellLog(sample.text + "\r\n"));
        EXPECT_EQ(captured.unrecognised, 0u) << sample.text;
        ASSERT_EQ(captured.runs.size(), 1u) << sample.text;
        EXPECT_EQ(captured.runs[0].events.size(), utf8.runs[0].events.size()) << sample.text;
        EXPECT_EQ(captured.runs[0].failures.size(), utf8.runs[0].failures.size()) << sample.text;
        ++dashed;
    }
    EXPECT_GT(dashed, 10u);
    const ParsedLog fence = parseLog(
        printed(lines::kProxUp, lines::kWorn, 1800) + printed(lines::kBypass, lines::kBypassOn) +
        markerAt(lines::kInitStart, 10, 0, 0, 0) + printed(lines::kDriverVersion, 555, 85, "r555_00") +
        printed(lines::kFenceEventNotCreated, 8ul) + printed(lines::kBypassRestored, lines::kRestoredOk));
    ASSERT_EQ(fence.runs.size(), 1u);
    EXPECT_EQ(fence.runs[0].end, RunEnd::InitFailed);
    EXPECT_EQ(fence.runs[0].failures.at(0).kind, FailureKind::Init);
}

}  // namespace
}  // namespace corva::report
