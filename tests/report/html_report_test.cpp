// tessaray-report's HTML page as text: what it holds and what it refuses. What the page shows
// once drawn is checked in a browser (tests/browser, label "browser").
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "report/html_data.h"
#include "report/html_report.h"
#include "report/log_parser.h"
#include "report/summary_text.h"
#include "tests/report/report_test_logs.h"

namespace corva::report {
namespace {

namespace fs = std::filesystem;
using testing::readTestLog;

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The JSON the page's script reads, as the browser would take it out of the page.
nlohmann::json pageData(const std::string& page) {
    const std::string open = "<script type=\"application/json\" id=\"report-data\">";
    const size_t start = page.find(open) + open.size();
    std::string text = page.substr(start, page.find("</script>", start) - start);
    return nlohmann::json::parse(text);
}

TEST(HtmlReport, OnePageWithEverythingInlineWhateverTheLogIsCalled) {
    const HtmlAssets* assets = htmlAssets();
    if (assets == nullptr) GTEST_SKIP() << "built without the chart library";
    // A log name that would end a script block or open a tag, were it not escaped.
    const std::string name = "run</script><b>.log";
    std::vector<ParsedLog> logs{parseLog(readTestLog("sim_cycle.log"), name)};
    // Longer than any buffer: kept whole on the page and in the summary.
    const std::string longTail = std::string(1010, 'x') + "END";
    logs[0].runs[0].driverVersion = "</script><script>alert(1)</script>" + longTail;
    HtmlInput input;
    input.logs = &logs;
    input.date = "2026-12-09";
    const std::string page = htmlReport(input, *assets);

    EXPECT_EQ(count(page, "<script"), 3u);  // the data, the chart library, the page's own
    EXPECT_EQ(count(page, "</script>"), 3u);
    EXPECT_EQ(count(page, "<b>"), 0u);
    EXPECT_EQ(page.find(" src="), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);
    EXPECT_NE(page.find("<title>tessaray run 2026-12-09 "), std::string::npos);
    EXPECT_NE(page.find("Permission is hereby granted"), std::string::npos);  // the library's licence
    EXPECT_NE(page.find(longTail + "</td></tr>"), std::string::npos);
    EXPECT_NE(summaryText(logs).find(longTail + "; mode"), std::string::npos);

    const nlohmann::json data = pageData(page);
    const LoggedRun& run = logs[0].runs[0];
    ASSERT_EQ(data["cycles"].size(), run.cycles.size());
    for (size_t i = 0; i < run.cycles.size(); ++i) {
        EXPECT_EQ(data["cycles"][i]["cycle"], run.cycles[i].number);
        EXPECT_NEAR(data["cycles"][i]["latency"].get<double>(), run.cycles[i].wakeLatencyMs, 0.001);
    }
    EXPECT_EQ(data["distributions"][0]["key"], "wake_latency_ms");
    EXPECT_FALSE(data.contains("trace"));
}

trace::TraceFrame frameAt(uint64_t index, double vblankMs, char wait = 's') {
    trace::TraceFrame f;
    f.index = index;
    f.startNs = static_cast<int64_t>((vblankMs - 10.0) * 1e6);
    f.submitNs = f.startNs + 1000000;
    f.presentNs = f.startNs + 2000000;
    f.vblankNs = static_cast<int64_t>(vblankMs * 1e6);
    f.wait = wait;
    return f;
}

TEST(HtmlTraceData, RepeatedBlanksAreTheMissedPeriodsNotParksOrFreeRuns) {
    const double p = 1000.0 / 75.0;  // 13.333 ms
    const struct {
        const char* what;
        std::vector<double> vblanks;  // of frames in a row; below 0: that frame's wait timed out
        double parkAtMs;              // a panels-off call, or below 0
        double refreshHz;             // the log's mode; 0 unknown
        std::vector<double> repeated;
    } cases[] = {
        {"every blank new", {p, 2 * p, 3 * p, 4 * p}, -1, 75, {}},
        {"one blank missed", {p, 2 * p, 4 * p, 5 * p, 6 * p}, -1, 75, {3 * p}},
        {"two missed", {p, 2 * p, 3 * p, 6 * p, 7 * p, 8 * p}, -1, 75, {4 * p, 5 * p}},
        {"refresh unknown",
         {p, 2 * p, 3 * p, 4 * p, 5 * p, 6 * p, 7 * p, 8 * p, 9 * p, 11 * p},
         -1,
         0,
         {10 * p}},
        {"mostly every other blank", {2 * p, 4 * p, 6 * p, 8 * p, 9 * p}, -1, 75, {3 * p, 5 * p, 7 * p}},
        {"a park between", {p, 2 * p, 3 * p, 33 * p, 34 * p}, 3.5 * p, 75, {}},
        {"a long stall without a park", {p, 2 * p, 5 * p}, -1, 75, {3 * p, 4 * p}},
        {"a timed-out wait between", {p, 2 * p, -1, 6 * p, 7 * p}, -1, 75, {}},
        {"a little late, not missed", {p, 2 * p, 3.4 * p, 4.4 * p, 5.4 * p}, -1, 75, {}},
    };
    for (const auto& c : cases) {
        trace::TraceFile t;
        for (size_t i = 0; i < c.vblanks.size(); ++i)
            t.frames.push_back(c.vblanks[i] < 0 ? frameAt(i, c.vblanks[i - 1] + p, 't')
                                                : frameAt(i, c.vblanks[i]));
        if (c.parkAtMs >= 0) t.panels.push_back({static_cast<int64_t>(c.parkAtMs * 1e6), 0, false, 0, 0});
        const nlohmann::ordered_json data = traceTimelineData(t, c.refreshHz);
        ASSERT_EQ(data["repeated"].size(), c.repeated.size()) << c.what << ": " << data["repeated"].dump();
        for (size_t i = 0; i < c.repeated.size(); ++i)
            EXPECT_NEAR(data["repeated"][i].get<double>(), c.repeated[i], 0.01) << c.what;
        EXPECT_EQ(data["frames"]["vblank"].size(), c.vblanks.size()) << c.what;
    }
}

TEST(HtmlTraceData, FreeRunSpansCloseAtTheirEndOrTheLastFrame) {
    trace::TraceFile t;
    for (uint64_t i = 0; i < 4; ++i) t.frames.push_back(frameAt(i, 100.0 * (i + 1)));
    trace::TraceFreeRun start;
    start.ns = 50000000;
    start.started = true;
    trace::TraceFreeRun end;
    end.ns = 150000000;
    t.freeRuns = {start, end, start};
    t.freeRuns.back().ns = 250000000;
    const nlohmann::ordered_json spans = traceTimelineData(t, 75.0)["free_runs"];
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0], nlohmann::ordered_json({50.0, 150.0}));
    EXPECT_EQ(spans[1], nlohmann::ordered_json({250.0, 390.0}));  // the last frame's start
}

// A trace of hours: the page holds every frame within a second of a marker, a thinned view of
// the others, and says so; a marker's name cannot end or open a script.
TEST(HtmlTraceData, ALongTraceKeepsTheFramesNearMarkersAndThinsTheRest) {
    const double p = 1000.0 / 75.0, startMs = 4e12;  // times of 16 digits: the longest a page holds
    trace::TraceFile t;
    for (uint64_t i = 0; i < 400000; ++i) t.frames.push_back(frameAt(i, startMs + p * double(i + 1)));
    const double markersMs[] = {startMs + 60000.0, startMs + 3000000.0};
    for (double ms : markersMs) t.markers.push_back({static_cast<int64_t>(ms * 1e6), 0, "<!--<script>"});
    for (int i = 0; i < 20000; ++i)  // more than the page takes, each with its frames
        t.markers.push_back(
            {static_cast<int64_t>((startMs + 4000000.0 + i * 100.0) * 1e6), 0, "PARK_REQUEST"});
    const nlohmann::ordered_json data = traceTimelineData(t, 75.0);
    const auto& starts = data["frames"]["start"];
    EXPECT_LE(starts.size(), 25000u);
    EXPECT_EQ(data["shown"]["frames_shown"], starts.size());
    for (double ms : markersMs) {
        const auto near = [ms](double at) { return at >= ms - 1000 && at <= ms + 1000; };
        size_t inTrace = 0;
        for (const trace::TraceFrame& f : t.frames) inTrace += near(f.startNs / 1e6);
        EXPECT_EQ(size_t(std::count_if(starts.begin(), starts.end(), [&](const auto& s) { return near(s); })),
                  inTrace);
    }
    EXPECT_TRUE(data["repeated"].empty());  // the gaps of the thinned view are not missed blanks

    const HtmlAssets* assets = htmlAssets();
    if (assets == nullptr) GTEST_SKIP() << "built without the chart library";
    std::vector<ParsedLog> logs{parseLog(readTestLog("sim_cycle.log"), "run.log")};
    HtmlInput input;
    input.logs = &logs;
    input.trace = &t;
    const std::string page = htmlReport(input, *assets);
    EXPECT_EQ(count(page, "<script"), 3u);
    EXPECT_EQ(count(page, "<!--"), 0u);
    EXPECT_EQ(pageData(page)["trace"]["markers"][0]["name"], "<!--<script>");
    EXPECT_NE(page.find("id=\"timeline-thinned\""), std::string::npos);
    EXPECT_LT(page.size(), size_t(5) << 20);
}

TEST(HtmlReport, TheRunsDateIsTheLocalDayOfTheTracesClock) {
    constexpr int64_t kDec9Utc = 1796774400000;  // 2026-12-09 00:00:00 UTC
    constexpr int64_t kHour = 3600000;
    const struct {
        int64_t unixMs;
        int64_t localMs;  // time of day on the machine
        const char* date;
    } cases[] = {
        {kDec9Utc + 4 * kHour, 4 * kHour, "2026-12-09"},       // UTC
        {kDec9Utc + 2 * kHour, 21 * kHour, "2026-12-08"},      // five hours west, evening before
        {kDec9Utc + 22 * kHour, 8 * kHour + 1, "2026-12-10"},  // ten hours east, next morning
        {kDec9Utc + 23 * kHour, 23 * kHour + 30000, "2026-12-09"},
    };
    for (const auto& c : cases) {
        trace::TraceFile t;
        t.clockUnixMs = c.unixMs;
        t.clockLocalMs = c.localMs;
        EXPECT_EQ(runDate(&t, ""), c.date) << c.unixMs << " " << c.localMs;
    }
    EXPECT_EQ(runDate(nullptr, "/no/such/log"), "");
}

TEST(ReportSummary, AllRunsRepeatsNoTableForOneRun) {
    const ParsedLog one = parseLog(readTestLog("sim_cycle.log"), "one.log");
    const ParsedLog other = parseLog(readTestLog("sim_doze.log"), "other.log");
    const struct {
        std::vector<ParsedLog> logs;
        size_t tables;
    } cases[] = {{{one}, 1}, {{one, other}, 3}};
    // A run that lost its display ends so, not "completed".
    const ParsedLog lost = parseLog(readTestLog("wine_plain_devremoved.log"), "lost.log");
    ASSERT_TRUE(lost.runs.at(0).result.displayLost);
    EXPECT_EQ(summaryText({lost}).find(runEndName(RunEnd::Completed)), std::string::npos);
    for (const auto& c : cases) {
        const std::string text = summaryText(c.logs);
        EXPECT_EQ(count(text, "duration (ms)"), c.tables) << text;
        EXPECT_EQ(count(text, "cycles: "), c.tables) << text;
        const size_t all = text.find("All runs: ");
        ASSERT_NE(all, std::string::npos);
        EXPECT_NE(text.find("  unrecognised lines: ", all), std::string::npos);
    }
}

// The shell's words `before` run first; a redirection in `arguments` overrides the default
// ones: standard error to `errors`, standard output beside it.
int runReport(const std::string& arguments, const fs::path& errors, const std::string& before = "") {
    const int status = std::system((before + "timeout 20 " + TESSARAY_REPORT_EXE + " >" + errors.string() +
                                    ".out 2>" + errors.string() + " " + arguments)
                                       .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReportProgram, HtmlOfARunIsWrittenAndBadInputGetsOneLineAndNoPage) {
    const std::string logs = TESSARAY_REPORT_TEST_LOGS;
    const fs::path dir = fs::temp_directory_path() / ("report-html-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path page = dir / "page.html";
    const fs::path errors = dir / "errors.txt";
    std::ofstream(dir / "not-a-log.txt") << "just some text\n";
    // A trace whose first marker is at a time no run of the log has.
    std::ofstream(dir / "other.trace") << "tessaray-trace 1\nC 1000 01:02:03.000 1796790226774\n"
                                          "M 2000 01:02:03.001 INIT_START\nE 3000 0\n";
    const std::string html = "--html " + page.string() + " ";
    // Outputs that are inputs, pipes with and without a reader, a file that fills, a log that
    // holds terminal controls (in its lines and its name).
    const std::string log = (dir / "same.log").string(), link = (dir / "link.log").string();
    fs::copy_file(logs + "/sim_cycle.log", log);
    fs::create_hard_link(log, link);
    const std::string fifo = (dir / "fifo").string(), controls = (dir / "\x1b[2J.log").string();
    const std::string linked = (dir / "linked.csv").string();  // a link to an output: it stays one
    fs::create_symlink(dir / "target.csv", linked);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(controls) << readTestLog("sim_cycle.log") << "\x1b[2J\x1b]0;title\x07\n";
    const struct {
        std::string arguments;
        int exitCode;
        bool written;
        std::string before = "";
    } cases[] = {
        {html + logs + "/sim_cycle.log", TESSARAY_HTML_AVAILABLE ? 0 : 2, TESSARAY_HTML_AVAILABLE},
        {html + logs + "/sim_doze.log " + logs + "/sim_cycle.log --run 2", TESSARAY_HTML_AVAILABLE ? 0 : 2,
         TESSARAY_HTML_AVAILABLE},
        {html + (dir / "not-a-log.txt").string(), 2, false},
        {html + logs + "/sim_cycle.log --trace " + (dir / "other.trace").string(), 2, false},
        {html + logs + "/sim_cycle.log --run 9", 1, false},
        {"-q " + log + " --html " + log, 1, false},
        {"-q " + log + " --csv " + link, 1, false},
        {"-q --trace-json " + log + " " + link, 1, false},
        {"-q " + log + " --csv " + fifo, 3, false},
        {"-q " + log + " --csv " + linked, 0, false},
        {"-q " + log + " --csv " + fifo, 0, false, "exec 3<>" + fifo + "; "},  // a reader
        {"-q " + log + " --svg " + page.string(), 3, false, "trap '' XFSZ; ulimit -f 2; "},
        {log + " >/dev/full", 3, false},
        {"-q " + controls + " --trace " + controls, 2, false},
        {controls + " 2>/dev/null", 0, false},
    };
    for (const auto& c : cases) {
        fs::remove(page);
        EXPECT_EQ(runReport(c.arguments, errors, c.before), c.exitCode) << c.arguments;
        EXPECT_EQ(fs::exists(page), c.written) << c.arguments;
        const std::string said = fileText(errors);
        if (c.arguments.find(" 2>") == std::string::npos) {
            EXPECT_EQ(count(said, "\n"), c.exitCode == 0 ? 0u : 1u) << c.arguments << ": " << said;
        }
        EXPECT_EQ((said + fileText(errors.string() + ".out")).find_first_of("\x1b\x07"), std::string::npos)
            << c.arguments;
    }
    EXPECT_EQ(readTestLog("sim_cycle.log"), fileText(log));
    EXPECT_TRUE(fs::is_symlink(linked) && fs::file_size(dir / "target.csv") > 0);
    for (const auto& entry : fs::directory_iterator(dir))  // no part of a file left behind
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace corva::report
