#include "report/html_report.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "report/html_data.h"
#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/report_text.h"
#include "report/metrics.h"
#include "report/stats.h"
#include "report/summary_text.h"
#include "report/svg_canvas.h"

namespace corva::report {
namespace {

constexpr int64_t kDayMs = 86400000;

void add(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendFormatV(out, format, args);
    va_end(args);
}

// The page says it is UTF-8: text keeps its characters.
std::string pageText(std::string_view text) {
    return escape(text, true);
}

// Script content ends at "</script" and changes state at "<!--": no '<' is left in it (JSON
// has one only inside strings, where "\u003c" reads as the same character).
std::string scriptSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '<') {
            out += "\\u003c";
        } else {
            out += c;
        }
    }
    return out;
}

std::string settingsText(const LoggedRun& run) {
    std::string out;
    if (run.cycleCount > 0) add(out, "%d cycles", run.cycleCount);
    if (run.activeSeconds >= 0) add(out, "%sactive ~%.2f s", out.empty() ? "" : ", ", run.activeSeconds);
    if (run.holdSeconds >= 0) add(out, "%shold ~%.2f s", out.empty() ? "" : ", ", run.holdSeconds);
    if (run.telemetryMs > 0) add(out, "%stelemetry %u ms", out.empty() ? "" : ", ", run.telemetryMs);
    return out;
}

void row(std::string& out, const char* name, const std::string& value) {
    if (!value.empty()) add(out, "<tr><th>%s</th><td>%s</td></tr>\n", name, pageText(value).c_str());
}

// The duration table the terminal prints, one row per duration with values.
void durationTable(std::string& out, const std::vector<const LoggedRun*>& runs, const char* id) {
    add(out,
        "<table class=\"durations\" id=\"%s\"><tr><th>duration (ms)</th><th>n</th><th>min</th>"
        "<th>median</th><th>mean</th><th>p95</th><th>max</th><th>stddev</th></tr>\n",
        id);
    bool any = false;
    for (const MetricInfo& m : kMetrics) {
        const Summary s = summarise(runsMetric(runs, m.metric));
        if (s.n == 0) continue;
        any = true;
        add(out,
            "<tr data-metric=\"%s\"><th>%s</th><td data-stat=\"n\">%zu</td><td data-stat=\"min\">%.1f</td>"
            "<td data-stat=\"median\">%.1f</td><td data-stat=\"mean\">%.1f</td><td "
            "data-stat=\"p95\">%.1f</td>"
            "<td data-stat=\"max\">%.1f</td><td data-stat=\"stddev\">%.1f</td></tr>\n",
            m.key(), pageText(m.label).c_str(), s.n, s.min, s.median, s.mean, s.p95, s.max, s.stddev);
    }
    if (!any)
        out += "<tr><td colspan=\"8\">no durations: no benchmark cycle reached a measured step</td></tr>\n";
    out += "</table>\n";
}

void runSection(std::string& out, const LoggedRun& run, size_t number, bool chosen) {
    add(out, "<section class=\"run%s\" id=\"run-%zu\"><h3>Run %zu%s</h3>\n<table class=\"facts\">\n",
        chosen ? " chosen" : "", number, number, chosen ? " (drawn below)" : "");
    char lines[64];
    std::snprintf(lines, sizeof lines, ", lines %zu-%zu", run.firstLine, run.lastLine);
    row(out, "log", run.source + lines);
    std::string end = runEndText(run);
    if (runExitCode(run) >= 0) add(end, " (exit code %d)", runExitCode(run));
    row(out, "mode", std::string(modeName(run.mode)) + ", " + end);
    row(out, "settings", settingsText(run));
    row(out, "driver", run.driverVersion.empty() ? "not shown" : run.driverVersion);
    row(out, "display mode", run.modeText.empty() ? "not chosen" : run.modeText);
    row(out, "proximity link", proximityLinkText(run));
    if (run.result.seen) {
        std::string result;
        add(result, "frames %llu, presentErrors %llu, freeRunEvents %llu, displayLost %d",
            static_cast<unsigned long long>(run.result.frames),
            static_cast<unsigned long long>(run.result.presentErrors),
            static_cast<unsigned long long>(run.result.freeRunEvents), run.result.displayLost ? 1 : 0);
        if (run.result.presentSeen)
            add(result, "; %.2f fps average over %.1f s", run.result.averageFps, run.result.seconds);
        row(out, "result", result);
    }
    if (run.endedEarly) row(out, "the program says", "BENCH_INCOMPLETE: " + run.endNote);
    out += "</table>\n";
    char id[48];
    std::snprintf(id, sizeof id, "durations-run-%zu", number);
    durationTable(out, {&run}, id);
    out += "</section>\n";
}

void comparisonSection(std::string& out, const std::vector<ParsedLog>& a, const std::vector<ParsedLog>& b) {
    const std::vector<const LoggedRun*> runsA = allRuns(a);
    const std::vector<const LoggedRun*> runsB = allRuns(b);
    add(out,
        "<section id=\"comparison\"><h2>Comparison B &minus; A</h2>\n<p>A = %zu run(s) in %zu log(s), "
        "B = %zu run(s) in %zu log(s). Difference of medians with a 95 %% bootstrap interval "
        "(%d resamples, fixed seed).</p>\n",
        runsA.size(), a.size(), runsB.size(), b.size(), kBootstrapRounds);
    out +=
        "<table class=\"durations\"><tr><th>duration</th><th>A: n</th><th>A: median (ms)</th><th>B: n</th>"
        "<th>B: median (ms)</th><th>B &minus; A (ms)</th><th>95 % interval (ms)</th><th>verdict</th></tr>\n";
    for (const MetricInfo& m : kMetrics) {
        const Comparison c = compareMedians(runsMetric(runsA, m.metric), runsMetric(runsB, m.metric));
        if (c.nA == 0 || c.nB == 0) continue;
        const char* verdict =
            !c.enough       ? "too few cycles to judge"
            : c.significant ? (c.difference > 0 ? "SIGNIFICANT, B is slower" : "SIGNIFICANT, B is faster")
                            : "not significant";
        add(out,
            "<tr "
            "data-metric=\"%s\"><th>%s</th><td>%zu</td><td>%.1f</td><td>%zu</td><td>%.1f</td><td>%+.1f</td>"
            "<td>[%+.1f, %+.1f]</td><td>%s</td></tr>\n",
            m.key(), pageText(m.label).c_str(), c.nA, c.medianA, c.nB, c.medianB, c.difference, c.low, c.high,
            verdict);
    }
    out += "</table></section>\n";
}

std::string titleOf(const LoggedRun& run, const std::string& date) {
    std::string title = "tessaray run";
    if (!date.empty()) add(title, " %s", date.c_str());
    if (run.initStartMs != kNoTime) add(title, " %.8s", formatClock(run.initStartMs).c_str());
    add(title, " \xe2\x80\x94 %s", modeName(run.mode));
    if (const std::string settings = settingsText(run); !settings.empty())
        add(title, ", %s", settings.c_str());
    return title;
}

// What of a long trace the timeline leaves out: the frames CSV and the trace JSON have it all.
void timelineNote(std::string& out, const nlohmann::ordered_json& shown) {
    const size_t frames = shown["frames"], framesShown = shown["frames_shown"];
    const size_t left = shown["other_records_left_out"];
    if (framesShown == frames && left == 0) return;
    out += "<p class=\"note\" id=\"timeline-thinned\">";
    if (framesShown < frames)
        add(out,
            "The trace has %zu frames; the timeline shows %zu of them: every frame within 1 s of a marker "
            "(%zu) and one in %zu of the others. ",
            frames, framesShown, size_t(shown["near_markers"]), size_t(shown["every"]));
    if (left > 0) add(out, "%zu other records (markers, panel calls, status changes) are left out. ", left);
    out += "The frames CSV (--frames-csv) and the trace JSON (--trace-json) hold every record.</p>\n";
}

}  // namespace

std::string runDate(const trace::TraceFile* trace, const std::string& logPath) {
    std::time_t seconds = 0;
    if (trace != nullptr && trace->clockUnixMs > 0) {
        // The clock line's local time of day against its Unix time gives the zone's offset.
        int64_t offset = (trace->clockLocalMs - trace->clockUnixMs % kDayMs) % kDayMs;
        if (offset > kDayMs / 2) offset -= kDayMs;
        if (offset < -kDayMs / 2) offset += kDayMs;
        seconds = static_cast<std::time_t>((trace->clockUnixMs + offset) / 1000);
    } else {
        std::error_code error;
        const auto written = std::filesystem::last_write_time(logPath, error);
        if (error) return {};
        const auto system = std::chrono::file_clock::to_sys(written);
        const std::time_t utc = std::chrono::system_clock::to_time_t(system);
        const std::tm* local = std::localtime(&utc);
        if (local == nullptr) return {};
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", local);
        return text;
    }
    const std::tm* day = std::gmtime(&seconds);
    if (day == nullptr) return {};
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", day);
    return text;
}

std::string htmlReport(const HtmlInput& in, const HtmlAssets& assets) {
    const std::vector<const LoggedRun*> runs = allRuns(*in.logs);
    const LoggedRun& run = *runs.at(in.run - 1);
    const std::string title = titleOf(run, in.date);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n";
    // No network: everything the page uses is in it, and the policy forbids fetching anything.
    out +=
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:\">\n";
    add(out, "<title>%s</title>\n", pageText(title).c_str());
    out += "<style>\n";
    out += assets.chartCss;
    out += "\n";
    out += assets.pageCss;
    out += "</style>\n</head><body>\n";
    add(out, "<h1>%s</h1>\n", pageText(title).c_str());
    add(out, "<p class=\"sub\">Written by tessaray-report from %zu log(s)%s%s.</p>\n", in.logs->size(),
        in.trace ? " and the trace " : "", in.trace ? pageText(in.trace->source).c_str() : "");

    out += "<section id=\"summaries\"><h2>Runs</h2>\n";
    for (size_t i = 0; i < runs.size(); ++i) runSection(out, *runs[i], i + 1, i + 1 == in.run);
    if (runs.size() > 1) {
        add(out, "<h3>All runs (%zu)</h3>\n", runs.size());
        durationTable(out, runs, "durations-all");
    }
    out += "</section>\n";

    add(out,
        "<section id=\"phases\"><h2>Wake phases of run %zu, per cycle</h2>\n"
        "<p>Each bar is stacked from the wake request: reaction, mode set, power on, first vertical "
        "blank, displays on (midpoint); the error bar is the interval in which the displays came on.</p>\n"
        "<div class=\"chart\" id=\"chart-phases\"></div></section>\n",
        in.run);
    out +=
        "<section id=\"distributions\"><h2>Distributions over all runs</h2>\n"
        "<div class=\"charts\" id=\"chart-distributions\"></div></section>\n";
    nlohmann::ordered_json traceData;
    if (in.trace) {
        traceData = traceTimelineData(*in.trace, run.refreshHz);
        out += "<section id=\"timeline\"><h2>Frame timeline (trace)</h2>\n";
        timelineNote(out, traceData["shown"]);
        out +=
            "<p class=\"controls\">Drag across the chart to zoom in, double-click to see the whole run; "
            "or: <span id=\"zoom-buttons\"></span></p>\n"
            "<div class=\"chart\" id=\"chart-timeline\"></div>\n"
            "<pre id=\"timeline-readout\">Point at the chart for the values under the "
            "pointer.</pre></section>\n";
    }
    if (in.compareA && in.compareB) comparisonSection(out, *in.compareA, *in.compareB);

    nlohmann::ordered_json data = {
        {"run", in.run}, {"cycles", cyclePhasesData(run)}, {"distributions", distributionsData(runs)}};
    if (in.trace) data["trace"] = std::move(traceData);
    out += "<script type=\"application/json\" id=\"report-data\">";
    out += scriptSafe(data.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    out += "</script>\n<script>\n";
    out += assets.chartJs;
    out += "\n</script>\n<script>\n";
    out += assets.pageJs;
    out += "\n</script>\n<details id=\"licence\"><summary>Chart library: uPlot, MIT licence</summary><pre>";
    out += pageText(assets.chartLicence);
    out += "</pre></details>\n</body></html>\n";
    return out;
}

}  // namespace corva::report
