#include "report/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <map>

#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/metrics.h"
#include "report/stats.h"
#include "report/summary_text.h"
#include "report/trace_outputs.h"
#include "report/svg_canvas.h"
#include "report/svg_phases.h"

namespace corva::report {
namespace {

constexpr double kWidth = 1100;
constexpr double kHeight = 1060;  // the wake phases below the distribution
constexpr double kLeft = 170;     // room for the lanes' names
constexpr double kRight = 1070;

// Timeline rows, top to bottom.
constexpr double kMarkTop = 60;   // marker names, rotated
constexpr double kLaneTop = 150;  // three display-status lanes
constexpr double kLaneHeight = 26;
constexpr double kLaneGap = 12;
constexpr double kFpsTop = 285;
constexpr double kFpsBottom = 395;
constexpr double kAxisY = 405;

// Latency distribution.
constexpr double kHistTop = 500;
constexpr double kHistBottom = 700;

struct TimeScale {
    int64_t start = 0;
    double seconds = 1;
    double x(int64_t ms) const {
        return kLeft + (kRight - kLeft) * (static_cast<double>(ms - start) / 1000.0) / seconds;
    }
};

void drawTimeAxis(Svg& svg, const TimeScale& ts) {
    svg.line(kLeft, kAxisY, kRight, kAxisY, "stroke=\"#444\"");
    const double step = niceStep(ts.seconds, 10);
    for (double s = 0; s <= ts.seconds + 1e-9; s += step) {
        const double x = kLeft + (kRight - kLeft) * s / ts.seconds;
        svg.line(x, kAxisY, x, kAxisY + 5, "stroke=\"#444\"");
        svg.text(x, kAxisY + 18, format(step < 1 ? "%.1f" : "%.0f", s),
                 "text-anchor=\"middle\" font-size=\"11\"");
    }
    svg.text((kLeft + kRight) / 2, kAxisY + 36, "seconds since " + formatClock(ts.start) + " (local time)",
             "text-anchor=\"middle\" font-size=\"12\"");
}

struct MarkStyle {
    EventKind kind;
    const char* label;
    const char* colour;
};
constexpr MarkStyle kMarkStyles[] = {
    {EventKind::InitDone, "INIT_DONE", "#555"},   {EventKind::ParkRequest, "park request", "#c46210"},
    {EventKind::ParkDone, "parked", "#8a4a0a"},   {EventKind::DozeSleepRequest, "doze request", "#7b3fa0"},
    {EventKind::DozeAsleep, "asleep", "#4f2a66"}, {EventKind::WakeRequest, "wake request", "#1565c0"},
    {EventKind::McuLost, "MCU lost", "#c62828"},  {EventKind::McuReconnected, "MCU back", "#2e7d32"},
    {EventKind::BenchEnd, "BENCH_END", "#555"},   {EventKind::RunNote, "note", "#555"},
};

void drawMarkers(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    double lastLabelX = -1e9;
    for (const Event& e : run.events) {
        for (const MarkStyle& m : kMarkStyles) {
            if (m.kind != e.kind) continue;
            const double x = ts.x(e.ms);
            char attributes[96];
            std::snprintf(attributes, sizeof attributes,
                          "stroke=\"%s\" stroke-width=\"1\" stroke-dasharray=\"3,3\"", m.colour);
            svg.line(x, kMarkTop + 78, x, kFpsBottom, attributes);
            std::string label = m.label;
            if (e.cycle > 0 && e.kind != EventKind::BenchEnd && e.kind != EventKind::InitDone) {
                label += ' ';
                label += std::to_string(e.cycle);
            }
            if (e.kind == EventKind::RunNote) label = e.text.substr(0, e.text.find(' '));
            // Markers a few milliseconds apart: the later name moves right, joined to its line.
            const double labelX = std::max(x, lastLabelX + 11);
            lastLabelX = labelX;
            if (labelX > x + 0.5) svg.line(x, kMarkTop + 78, labelX, kMarkTop + 70, attributes);
            char textAttributes[160];
            std::snprintf(textAttributes, sizeof textAttributes,
                          "font-size=\"10\" fill=\"%s\" transform=\"rotate(-90 %.1f %.1f)\"", m.colour,
                          labelX + 3, kMarkTop + 68);
            svg.text(labelX + 3, kMarkTop + 68, label, textAttributes);
        }
    }
}

// While the microcontroller is gone, the display-status word is not known.
void drawTelemetryGaps(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    int64_t lostAt = kNoTime;
    auto shade = [&](int64_t end) {
        const double x0 = ts.x(lostAt);
        const double x1 = ts.x(end);
        svg.rect(x0, kLaneTop - 8, x1 - x0, 3 * (kLaneHeight + kLaneGap),
                 "fill=\"#e0e0e0\" fill-opacity=\"0.8\"");
        svg.text(x0 + 3, kLaneTop + 3 * (kLaneHeight + kLaneGap) - 14, "MCU lost: display status unknown",
                 "font-size=\"10\" fill=\"#444\"");
    };
    for (const Event& e : run.events) {
        if (e.kind == EventKind::McuLost && lostAt == kNoTime) lostAt = e.ms;
        if (e.kind == EventKind::McuReconnected && lostAt != kNoTime) {
            shade(e.ms);
            lostAt = kNoTime;
        }
    }
    if (lostAt != kNoTime) shade(run.lastMs);
}

void drawFreeRuns(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    for (const FreeRunPeriod& p : run.freeRuns) {
        const double x0 = ts.x(p.startMs);
        const double x1 = ts.x(p.endMs == kNoTime ? run.lastMs : p.endMs);
        svg.rect(x0, kLaneTop - 8, x1 - x0, kFpsBottom - kLaneTop + 8, "fill=\"#f8d7d7\"");
        svg.text(x0 + 3, kFpsBottom - 4, "free-run (vsync lost)", "font-size=\"10\" fill=\"#b71c1c\"");
    }
}

void drawLanes(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    struct Lane {
        int bit;
        const char* name;
        const char* colour;
    };
    const Lane lanes[] = {{0, "displays on (disp)", "#2e7d32"},
                          {1, "prox sensing (proxOn)", "#6a1b9a"},
                          {3, "compression (dsc)", "#00838f"}};
    // The word before the first change is that change's "from"; without changes, the status lines'.
    uint16_t word = 0;
    bool known = false;
    for (const Event& e : run.events) {
        if (e.kind == EventKind::DstatChange) {
            word = e.dstatFrom;
            known = true;
            break;
        }
    }
    if (!known && !run.status.empty()) word = run.status.front().dstat;
    if (run.proxSeen && !run.proxUp) {
        svg.text(kLeft - 8, kLaneTop + kLaneHeight / 2 + 4, "display status",
                 "text-anchor=\"end\" font-size=\"12\"");
        svg.text(kLeft + 10, kLaneTop + kLaneHeight / 2 + 4,
                 "not known: the proximity link was unavailable, so no display-status telemetry",
                 "font-size=\"12\" fill=\"#666\"");
        return;
    }
    for (size_t i = 0; i < 3; ++i) {
        const Lane& lane = lanes[i];
        const double top = kLaneTop + static_cast<double>(i) * (kLaneHeight + kLaneGap);
        const double bottom = top + kLaneHeight;
        svg.text(kLeft - 8, top + kLaneHeight / 2 + 4, lane.name, "text-anchor=\"end\" font-size=\"12\"");
        svg.line(kLeft, bottom, kRight, bottom, "stroke=\"#ddd\"");
        svg.text(kRight + 4, top + 9, "on", "font-size=\"9\" fill=\"#777\"");
        svg.text(kRight + 4, bottom, "off", "font-size=\"9\" fill=\"#777\"");
        std::string points;
        auto point = [&](double x, bool on) {
            points += format("%.1f,", x) + format("%.1f ", on ? top : bottom);
        };
        bool on = (word >> lane.bit) & 1;
        point(ts.x(run.firstMs), on);
        for (const Event& e : run.events) {
            if (e.kind != EventKind::DstatChange) continue;
            const bool next = (e.dstatTo >> lane.bit) & 1;
            if (next == on) continue;
            point(ts.x(e.ms), on);
            point(ts.x(e.ms), next);
            on = next;
        }
        point(ts.x(run.lastMs), on);
        svg.add("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n", points.c_str(),
                lane.colour);
    }
    // The measured wake latency, written over the displays lane where the displays came on.
    for (const Cycle& c : run.cycles) {
        if (c.wakeLatencyMs < 0 || c.wakeRequestMs == kNoTime) continue;
        const double x0 = ts.x(c.wakeRequestMs);
        const double x1 = ts.x(c.displaysOnMs == kNoTime ? c.wakeRequestMs : c.displaysOnMs);
        svg.line(x0, kLaneTop - 4, x1, kLaneTop - 4, "stroke=\"#1565c0\" stroke-width=\"3\"");
        svg.text(x0, kLaneTop - 9, format("%.1f ms", c.wakeLatencyMs), "font-size=\"10\" fill=\"#1565c0\"");
    }
}

void drawFps(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    double top = run.refreshHz > 0 ? run.refreshHz : 0;
    for (const StatusSample& s : run.status) top = std::max(top, s.fps);
    if (top <= 0) top = 1;
    top = niceStep(top, 4) * std::ceil(top / niceStep(top, 4));
    auto y = [&](double fps) { return kFpsBottom - (kFpsBottom - kFpsTop) * fps / top; };
    svg.text(kLeft - 30, (kFpsTop + kFpsBottom) / 2, "frames per second",
             "text-anchor=\"end\" font-size=\"12\"");
    svg.text(kLeft - 30, (kFpsTop + kFpsBottom) / 2 + 14, "(status lines)",
             "text-anchor=\"end\" font-size=\"10\" fill=\"#666\"");
    for (double v : {0.0, top / 2, top}) {
        svg.line(kLeft, y(v), kRight, y(v), "stroke=\"#eee\"");
        svg.text(kLeft - 4, y(v) + 4, format("%.0f", v),
                 "text-anchor=\"end\" font-size=\"10\" fill=\"#666\"");
    }
    if (run.status.empty()) {
        svg.text(kLeft + 10, (kFpsTop + kFpsBottom) / 2, "no status lines in this run",
                 "font-size=\"11\" fill=\"#666\"");
        return;
    }
    std::string points;
    for (const StatusSample& s : run.status)
        points += format("%.1f,", ts.x(s.ms)) + format("%.1f ", y(s.fps));
    svg.add("<polyline points=\"%s\" fill=\"none\" stroke=\"#333\" stroke-width=\"1.5\"/>\n", points.c_str());
    for (const StatusSample& s : run.status)
        svg.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"#333\"/>\n", ts.x(s.ms), y(s.fps));
}

void drawFailures(Svg& svg, const LoggedRun& run, const TimeScale& ts) {
    for (const Failure& f : run.failures) {
        const double x = ts.x(f.ms);
        svg.add("<path d=\"M%.1f %.1f l5 9 h-10 z\" fill=\"#c62828\"/>\n", x, kFpsBottom - 32);
        svg.text(x + 6, kFpsBottom - 24, std::string(failureKindName(f.kind)) + " failure",
                 "font-size=\"10\" fill=\"#c62828\"");
    }
}

void drawTimeline(Svg& svg, const LoggedRun& run, size_t index) {
    std::string title =
        "Run " + std::to_string(index) + ": " + run.source + ", " + modeName(run.mode) + " run";
    if (!run.cycles.empty()) title += ", " + std::to_string(run.cycles.size()) + " cycle(s)";
    title += std::string(", ") + runEndText(run);
    svg.text(20, 28, title, "font-size=\"16\" font-weight=\"bold\"");
    if (run.firstMs == kNoTime) {
        svg.text(20, 60, "this run has no time-stamped line to draw", "font-size=\"12\"");
        return;
    }
    TimeScale ts;
    ts.start = run.firstMs;
    ts.seconds = std::max(0.5, static_cast<double>(run.lastMs - run.firstMs) / 1000.0 * 1.02);
    drawFreeRuns(svg, run, ts);
    for (const Cycle& c : run.cycles) {
        const double x = ts.x(c.startMs);
        svg.text(x + 2, kLaneTop + 3 * (kLaneHeight + kLaneGap) + 2, "cycle " + std::to_string(c.number),
                 "font-size=\"10\" fill=\"#444\"");
    }
    drawMarkers(svg, run, ts);
    drawLanes(svg, run, ts);
    drawTelemetryGaps(svg, run, ts);
    drawFps(svg, run, ts);
    drawFailures(svg, run, ts);
    drawTimeAxis(svg, ts);
}

void drawLatencies(Svg& svg, const std::vector<ParsedLog>& logs) {
    const std::vector<const LoggedRun*> runs = allRuns(logs);
    std::vector<double> values = runsMetric(runs, Metric::WakeLatency);
    const Summary s = summarise(values);
    std::string title = "Wake latency over all " + std::to_string(runs.size()) + " run(s)";
    if (s.n > 0)
        title += ": n=" + std::to_string(s.n) + ", median " + format("%.1f", s.median) + " ms, p95 " +
                 format("%.1f", s.p95) + " ms";
    svg.text(20, kHistTop - 30, title, "font-size=\"15\" font-weight=\"bold\"");
    if (s.n == 0) {
        std::string why = "no cycle had a wake latency";
        std::map<std::string, size_t> reasons;
        for (const LoggedRun* run : runs)
            for (const Cycle& c : run->cycles) ++reasons[outcomeName(c.outcome)];
        for (const auto& [reason, n] : reasons) why += ", " + std::to_string(n) + " " + reason;
        svg.text(kLeft, (kHistTop + kHistBottom) / 2, why, "font-size=\"12\"");
        return;
    }
    const double step = niceStep(std::max(s.max - s.min, 1.0), 20);
    const double lo = std::floor(s.min / step) * step;
    const double hi = std::max(lo + step, std::ceil((s.max + 1e-9) / step) * step);
    const size_t bins = static_cast<size_t>(std::lround((hi - lo) / step));
    std::vector<size_t> counts(std::max<size_t>(bins, 1));
    for (double v : values) counts[std::min(counts.size() - 1, static_cast<size_t>((v - lo) / step))] += 1;
    const size_t most = *std::max_element(counts.begin(), counts.end());
    auto x = [&](double ms) { return kLeft + (kRight - kLeft) * (ms - lo) / (hi - lo); };
    auto y = [&](double n) { return kHistBottom - (kHistBottom - kHistTop) * n / static_cast<double>(most); };
    svg.text(kLeft - 8, (kHistTop + kHistBottom) / 2, "cycles", "text-anchor=\"end\" font-size=\"12\"");
    for (size_t i = 0; i < counts.size(); ++i) {
        const double x0 = x(lo + static_cast<double>(i) * step);
        svg.rect(x0 + 1, y(static_cast<double>(counts[i])), x(lo + step) - x(lo) - 2,
                 kHistBottom - y(static_cast<double>(counts[i])), "fill=\"#90caf9\" stroke=\"#1565c0\"");
        if (counts[i] > 0)
            svg.text(x0 + (x(lo + step) - x(lo)) / 2, y(static_cast<double>(counts[i])) - 3,
                     std::to_string(counts[i]), "text-anchor=\"middle\" font-size=\"10\"");
    }
    for (double v : values) svg.line(x(v), kHistBottom + 2, x(v), kHistBottom + 9, "stroke=\"#0d47a1\"");
    svg.line(kLeft, kHistBottom, kRight, kHistBottom, "stroke=\"#444\"");
    const double tick = niceStep(hi - lo, 10);
    for (double v = std::ceil(lo / tick) * tick; v <= hi + 1e-9; v += tick) {
        svg.line(x(v), kHistBottom + 9, x(v), kHistBottom + 14, "stroke=\"#444\"");
        svg.text(x(v), kHistBottom + 27, tickLabel(v, tick), "text-anchor=\"middle\" font-size=\"11\"");
    }
    svg.text((kLeft + kRight) / 2, kHistBottom + 46,
             "WAKE_REQUEST to displays on, ms (bars: cycles per bin; ticks below: each cycle)",
             "text-anchor=\"middle\" font-size=\"12\"");
    svg.line(x(s.median), kHistTop - 8, x(s.median), kHistBottom, "stroke=\"#000\" stroke-width=\"2\"");
    svg.text(x(s.median) + 4, kHistTop - 10, "median " + format("%.1f", s.median), "font-size=\"11\"");
    svg.line(x(s.p95), kHistTop + 8, x(s.p95), kHistBottom,
             "stroke=\"#c62828\" stroke-width=\"2\" stroke-dasharray=\"5,3\"");
    const bool nearRight = x(s.p95) > kRight - 80;
    svg.text(x(s.p95) + (nearRight ? -4 : 4), kHistTop + 8, "p95 " + format("%.1f", s.p95),
             nearRight ? "font-size=\"11\" fill=\"#c62828\" text-anchor=\"end\""
                       : "font-size=\"11\" fill=\"#c62828\"");
}

}  // namespace

const LoggedRun* timelineRun(const std::vector<ParsedLog>& logs, size_t runIndex) {
    const std::vector<const LoggedRun*> runs = allRuns(logs);
    if (runs.empty()) return nullptr;
    if (runIndex > 0) return runIndex <= runs.size() ? runs[runIndex - 1] : nullptr;
    for (const LoggedRun* run : runs)
        if (!run->cycles.empty()) return run;
    return runs.front();
}

std::string svgReport(const std::vector<ParsedLog>& logs, size_t runIndex, const trace::TraceFile* trace) {
    double traceHeight = 0;
    const std::string intervals = trace ? frameIntervalSvg(*trace, kHeight, kWidth, traceHeight) : "";
    const double height = kHeight + traceHeight;
    Svg svg;
    svg.add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    svg.add(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\">\n",
        kWidth, height, kWidth, height);
    svg.rect(0, 0, kWidth, height, "fill=\"#fff\"");
    const LoggedRun* run = timelineRun(logs, runIndex);
    if (run) {
        const std::vector<const LoggedRun*> runs = allRuns(logs);
        const size_t index = static_cast<size_t>(std::find(runs.begin(), runs.end(), run) - runs.begin()) + 1;
        drawTimeline(svg, *run, index);
    } else {
        svg.text(20, 28, "no run to draw", "font-size=\"16\"");
    }
    drawLatencies(svg, logs);
    svg.raw() += intervals;
    if (run) drawWakePhases(svg, *run, kLeft, kRight, 790, 1010);
    svg.add("</svg>\n");
    return std::move(svg.raw());
}

}  // namespace corva::report
