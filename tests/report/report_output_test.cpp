#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "report/csv_output.h"
#include "report/json_output.h"
#include "report/log_parser.h"
#include "report/report_options.h"
#include "report/report_text.h"
#include "report/stats.h"
#include "report/svg_plot.h"
#include "report/summary_text.h"
#include "tests/report/report_test_logs.h"
#include "tests/support/sample_lines.h"

namespace corva::report {
namespace {

namespace fs = std::filesystem;
using testing::readTestLog;

const char* const kCapturedLogs[] = {"sim_cycle.log",
                                     "sim_doze.log",
                                     "sim_cycle_nomcu.log",
                                     "sim_doze_unplug.log",
                                     "sim_nodisplay.log",
                                     "sim_plain_freerun.log",
                                     "sim_cycle_devremoved.log",
                                     "wine_cycle.log",
                                     "wine_plain_devremoved.log"};

std::vector<ParsedLog> capturedLogs() {
    std::vector<ParsedLog> logs;
    for (const char* name : kCapturedLogs) logs.push_back(parseLog(readTestLog(name), name));
    return logs;
}

TEST(ReportStats, SummaryAndBootstrapComparison) {
    std::vector<double> oneToTwenty;
    for (int i = 1; i <= 20; ++i) oneToTwenty.push_back(i);
    const Summary s = summarise(oneToTwenty);
    EXPECT_EQ(s.n, 20u);
    EXPECT_DOUBLE_EQ(s.median, 10.5);
    EXPECT_DOUBLE_EQ(s.p95, 19.05);
    EXPECT_DOUBLE_EQ(s.mean, 10.5);
    EXPECT_NEAR(s.stddev, 5.9161, 1e-4);

    std::vector<double> slower;
    for (double v : oneToTwenty) slower.push_back(v + 30.0);
    const struct {
        std::vector<double> a, b;
        bool significant;
        bool enough;
    } cases[] = {
        {oneToTwenty, slower, true, true},
        {oneToTwenty, oneToTwenty, false, true},
        {{1, 2, 3}, {40, 50, 60}, false, false},  // too few to judge, however far apart
    };
    for (const auto& c : cases) {
        const Comparison r = compareMedians(c.a, c.b);
        EXPECT_EQ(r.significant, c.significant);
        EXPECT_EQ(r.enough, c.enough);
        EXPECT_LE(r.low, r.difference);
        EXPECT_GE(r.high, r.difference);
        const Comparison again = compareMedians(c.a, c.b);
        EXPECT_EQ(again.low, r.low);  // fixed seed: the same logs give the same interval
    }
    EXPECT_NEAR(compareMedians(oneToTwenty, slower).difference, 30.0, 1e-9);
}

TEST(ReportOutput, CycleCsvHasOneRowPerCycleAndQuotesFields) {
    const std::vector<ParsedLog> logs = capturedLogs();
    size_t cycles = 0;
    for (const ParsedLog& log : logs)
        for (const LoggedRun& run : log.runs) cycles += run.cycles.size();
    const std::string csv = cyclesCsv(logs);
    EXPECT_EQ(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')), cycles + 1);
    EXPECT_NE(csv.find("sim_cycle.log,1,cycle,1,3,measured,"), std::string::npos);
    EXPECT_EQ(csvField("a,\"b\""), "\"a,\"\"b\"\"\"");
    const std::string events = eventsCsv(logs);
    EXPECT_NE(events.find(std::string(",") + eventName(EventKind::WakeLatency) + ",153.5,"),
              std::string::npos);
    EXPECT_NE(events.find(",STATUS,76.0,,0x000b,worn(1818) free-run"), std::string::npos);
    // A note a spreadsheet would run as a formula is text there; numbers stay numbers.
    for (const char* formula : {"=cmd|' /C calc'!A0", "@SUM(A1)", "+1+1", "-1+1"}) {
        const ParsedLog log = parseLog(test::sampleText(lines::kCycle, 1, 2) + "\n" +
                                           test::sampleText(lines::kCycleAbandoned, 1, 2, formula) + "\n",
                                       "f.log");
        for (const std::string& csv : {cyclesCsv({log}), eventsCsv({log})}) {
            EXPECT_EQ(csv.find("," + std::string(formula)), std::string::npos) << csv;
            EXPECT_NE(csv.find(",'" + std::string(formula)), std::string::npos) << csv;
        }
    }
}

// Text of a log or a trace as JSON and a terminal take it: invalid UTF-8 escaped for JSON,
// controls (but newline and tab) escaped for a terminal, everything else kept.
TEST(ReportText, InvalidUtf8AndControlsAreEscapedAndTheRestKept) {
    const struct {
        std::string text, utf8, terminal;
    } cases[] = {
        {"plain \xE2\x80\x94 text", "plain \xE2\x80\x94 text", "plain \xE2\x80\x94 text"},
        {"\xFF\xFE<!--", "\\xFF\\xFE<!--", "\xFF\xFE<!--"},  // legacy code page letters kept
        {"\x1B[2J\x1B]0;t\x07", "\x1B[2J\x1B]0;t\x07", "\\x1B[2J\\x1B]0;t\\x07"},
        {"a\nb\tc\r\x7F", "a\nb\tc\r\x7F", "a\nb\tc\\x0D\\x7F"},
        {"\xC2\x9B"
         "6n",
         "\xC2\x9B"
         "6n",
         "\\xC2\\x9B"
         "6n"},  // a C1 control in UTF-8
        {"\x9B"
         "6n",
         "\\x9B"
         "6n",
         "\\x9B"
         "6n"},
        {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80",
         "\xC0\xAF \xED\xA0\\x80 \xF4\\x90\\x80\\x80"},  // overlong, surrogate, beyond U+10FFFF
        {"cut \xE2\x80", "cut \\xE2\\x80", "cut \xE2\\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8Escaped(c.text), c.utf8) << c.text;
        EXPECT_NO_THROW((void)nlohmann::json(utf8Escaped(c.text)).dump()) << c.text;
        EXPECT_EQ(terminalText(c.text), c.terminal) << c.text;
        EXPECT_EQ(terminalText(c.text + "\n", false).find('\n'), std::string::npos) << c.text;
    }
}

// The captured three-cycle log with conditions: the second wake's reader stalled around it,
// and the run's telemetry condition with the verdict given.
std::string logWithConditions(const char* telemetryVerdict) {
    using test::printed;
    std::string log = readTestLog("sim_cycle.log");
    const std::string latency = printed(lines::kWakeLatency, 161.1);
    const lines::OptionalMs none;
    log.insert(log.find(latency) + latency.size(),
               printed(lines::kWakePhases, none, none, none, none, lines::OptionalMsInterval{}) +
                   printed(lines::kWakeCondition, lines::kReaderStall, 200.0, 0.0));
    log.insert(
        log.find(printed(lines::kBypassRestored, lines::kRestoredOk)),
        printed(lines::kRunCondition, lines::kMonitorPoll, "median 2.10 ms", lines::kHeld, "p99 5.0 ms") +
            printed(lines::kRunCondition, lines::kTelemetry, "1 reader stalls", telemetryVerdict,
                    "0 stalls"));
    return log;
}

// A wake figure taken under a failed condition is marked in the summary, the CSV and the JSON,
// and kept out of the statistics unless asked for; the JSON has one entry per condition.
TEST(ReportOutput, WakesUnderAFailedConditionAreMarkedAndKeptOutOfTheStatistics) {
    const struct {
        const char* telemetry;
        bool include;
        std::vector<bool> marked;  // per cycle
        size_t counted;            // wake latencies in the statistics
    } cases[] = {{lines::kHeld, false, {false, true, false}, 2},
                 {lines::kHeld, true, {false, true, false}, 3},
                 {lines::kFailed, false, {true, true, true}, 0}};
    for (const auto& c : cases) {
        std::vector<ParsedLog> logs{parseLog(logWithConditions(c.telemetry), "conditions.log")};
        if (c.include)  // as --include-failed-conditions does
            for (Cycle& cycle : logs[0].runs[0].cycles) cycle.keptOut = false;
        const nlohmann::ordered_json run =
            nlohmann::ordered_json::parse(reportJson(logs))["logs"][0]["runs"][0];
        ASSERT_EQ(run["conditions"].size(), 2u);
        EXPECT_EQ(run["conditions"][1], (nlohmann::ordered_json{{"name", lines::kTelemetry},
                                                                {"figure", "1 reader stalls"},
                                                                {"limit", "0 stalls"},
                                                                {"verdict", c.telemetry}}));
        const std::string csv = cyclesCsv(logs);
        for (size_t i = 0; i < 3; ++i) {
            const auto& cycle = run["cycles"][i];
            EXPECT_EQ(!cycle["failed_conditions"].empty(), c.marked[i]) << i;
            EXPECT_EQ(cycle["in_statistics"], !c.marked[i] || c.include) << i;
        }
        EXPECT_NE(csv.find(lines::kReaderStall), std::string::npos) << csv;
        const auto& durations = run["durations_ms"];
        EXPECT_EQ(
            durations.contains("wake_latency_ms") ? durations["wake_latency_ms"]["n"].get<size_t>() : 0u,
            c.counted);
        EXPECT_NE(summaryText(logs).find(lines::kReaderStall), std::string::npos);
    }
}

// The CSV's columns and the JSON's keys for a run and its cycles are the same names.
TEST(ReportOutput, CsvAndJsonNameTheCycleFieldsAlike) {
    const std::vector<ParsedLog> logs = capturedLogs();
    const std::string csv = cyclesCsv(logs);
    std::vector<std::string> columns;
    std::stringstream header(csv.substr(0, csv.find('\n')));
    for (std::string name; std::getline(header, name, ',');) columns.push_back(name);
    ASSERT_GT(columns.size(), 3u);
    const std::vector<std::string> cycleColumns(columns.begin() + 3,
                                                columns.end());  // after source, run, mode
    size_t cycles = 0;
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(reportJson(logs));
    for (const auto& log : json["logs"]) {
        for (const auto& run : log["runs"]) {
            EXPECT_TRUE(run.contains(columns[0]) && run.contains(columns[2]));
            for (const auto& cycle : run["cycles"]) {
                std::vector<std::string> keys;
                for (auto it = cycle.begin(); it != cycle.end(); ++it) keys.push_back(it.key());
                std::vector<std::string> expected = cycleColumns;
                if (!cycle.contains("note")) expected.pop_back();  // only when there is one
                EXPECT_EQ(keys, expected);
                ++cycles;
            }
        }
    }
    EXPECT_GT(cycles, 10u);
}

// The plot parses as XML with the renderer's own checker and labels what it draws.
TEST(ReportOutput, SvgIsWellFormedAndLabelled) {
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint not installed";
    std::vector<ParsedLog> logs = capturedLogs();
    // A run of 10 cycles of 4 s + 4 s, and a log with a path of 1,000 characters, controls in it.
    logs.push_back(parseLog(readTestLog("sim_cycle10_long.log"), "sim_cycle10_long.log"));
    logs.push_back(parseLog(readTestLog("sim_cycle.log"), std::string(994, 'd') + "\x1b\x7f.log"));
    const fs::path file = fs::temp_directory_path() / ("report-test-" + std::to_string(::getpid()) + ".svg");
    for (size_t run = 0; run <= 11; ++run) {
        SCOPED_TRACE(run);
        const std::string svg = svgReport(logs, run);
        std::ofstream(file) << svg;
        EXPECT_EQ(std::system(("xmllint --noout " + file.string()).c_str()), 0);
        if (run == 0) {
            for (const char* label : {"wake request 1", "park request 1", "displays on (disp)", "153.5 ms",
                                      "frames per second", "median "})
                EXPECT_NE(svg.find(label), std::string::npos) << label;
        }
    }
    EXPECT_NE(svgReport(logs, 6).find("free-run (vsync lost)"), std::string::npos);
    fs::remove(file);
}

int runReport(const std::string& arguments) {
    const int status =
        std::system((std::string(TESSARAY_REPORT_EXE) + " >/dev/null 2>&1 " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ReportProgram, ExitCodesForGoodBadAndMissingInput) {
    const std::string logs = TESSARAY_REPORT_TEST_LOGS;
    const fs::path notLog =
        fs::temp_directory_path() / ("report-test-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(notLog) << "just some text\nnothing of the program\n";
    const fs::path newerTrace = notLog.string() + ".trace";
    std::ofstream(newerTrace) << "tessaray-trace 99\n";
    const std::string out = notLog.string() + ".out";
    // Neither a device nor a pipe nor an endless standard input holds the program up.
    const fs::path fifo = fs::temp_directory_path() / ("report-test-" + std::to_string(::getpid()) + ".fifo");
    ASSERT_EQ(std::system(("mkfifo " + fifo.string()).c_str()), 0);
    const struct {
        std::string arguments;
        int exitCode;
    } cases[] = {
        {logs + "/sim_cycle.log", 0},
        {"- < " + logs + "/wine_cycle.log", 0},
        {"--compare " + logs + "/sim_cycle.log --with " + logs + "/sim_doze.log", 0},
        {notLog.string(), 2},
        {logs + "/sim_cycle.log " + notLog.string(), 2},
        {logs + "/no-such.log", 2},
        {"", 1},
        {"--compare " + logs + "/sim_cycle.log", 1},
        {"--bogus " + logs + "/sim_cycle.log", 1},
        // Traces: a log, a newer version, or a trace that is not of the log's run.
        {"--trace-json " + out + " " + logs + "/sim_cycle.log", 2},
        {"--frames-csv " + out + " " + newerTrace.string(), 2},
        {logs + "/sim_cycle.log --trace " + notLog.string(), 2},
        {"--trace-json " + out, 1},
        {"/dev/zero", 2},
        {"- </dev/zero", 2},
        {fifo.string(), 2},
        // The history: its options need it, it needs logs or something to do with it.
        {"--trend", 1},
        {"--machine lab-1 " + logs + "/sim_cycle.log", 1},
        {"--history " + out + " --last 3", 1},
        {"--history " + out, 1},
        {"--history " + out + " --trend", 2},  // no history there
        {logs + "/sim_cycle.log --history " + notLog.string(), 2},
        {logs + "/sim_cycle.log --run 0 2>" + out, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(runReport(c.arguments), c.exitCode) << c.arguments;
    std::ifstream said(out);
    const std::string text(std::istreambuf_iterator<char>(said), (std::istreambuf_iterator<char>()));
    EXPECT_NE(text.find(kRunsCountFromOne), std::string::npos) << text;
    fs::remove(notLog);
    fs::remove(newerTrace);
    fs::remove(fifo);
}

}  // namespace
}  // namespace corva::report
