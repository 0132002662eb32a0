// The per-frame CSV, the frame-interval plots and the trace-to-log match.
#include "report/trace_outputs.h"

#include "report/log_parser.h"
#include "report/report_text.h"
#include "trace/trace_format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace corva::report {

using trace::TraceFile;
using trace::TraceFrame;
using trace::TraceMarker;
using trace::traceMs;

namespace {

std::string ms(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

}  // namespace

// Times in ms from the trace's clock line; durations in ms; empty where a frame has none.
// The columns are the frame record's fields, in its order, with the interval after the start.
std::string framesCsv(const TraceFile& t) {
    std::string out;
    for (const trace::Field& field : trace::kFrameFields) {
        out += out.empty() ? "" : ",";
        out += field.csv;
        if (field.name == "start") out += ",interval_ms";
    }
    out += "\n";
    const TraceFrame* previous = nullptr;
    for (const TraceFrame& f : t.frames) {
        const std::string interval = previous ? ms((f.startNs - previous->startNs) / 1e6) : "";
        const std::string vblank = f.wait != 'n' ? ms(traceMs(t, f.vblankNs)) : "";
        const std::string predicted = f.predictedNs != 0 ? ms(traceMs(t, f.predictedNs)) : "";
        const std::string lead = f.leadNs != 0 ? ms(f.leadNs / 1e6) : "";
        appendFormat(out, "%llu,%.3f,%s,%.3f,%.3f,%.3f,%s,%s,%s,%s,%d,%d\n",
                     static_cast<unsigned long long>(f.index), traceMs(t, f.startNs), interval.c_str(),
                     (f.startNs - f.loopTopNs) / 1e6, traceMs(t, f.submitNs), traceMs(t, f.presentNs),
                     vblank.c_str(),
                     f.wait == 's'   ? "signalled"
                     : f.wait == 't' ? "timed-out"
                                     : "none",
                     predicted.c_str(), lead.c_str(), f.freeRunning ? 1 : 0, f.presentStatus);
        previous = &f;
    }
    return out;
}

namespace {

constexpr double kWindowMs = 1000.0;  // each plot shows a second either side of its event
constexpr double kPlotHeight = 120.0;
constexpr double kPlotGap = 50.0;
constexpr double kClipMs = 100.0;
// Bounds that no run reaches (a plot a park or wake, a dot a frame within its second either
// side) and keep a crafted trace's picture small.
constexpr size_t kMaxPlots = 500;
constexpr size_t kMaxDots = 2000;

struct ParkWake {
    int64_t ns;
    const char* name;
};

}  // namespace

std::string frameIntervalSvg(const TraceFile& t, double top, double width, double& height) {
    std::vector<ParkWake> events;
    for (int64_t ns : t.parked) events.push_back({ns, "park"});
    for (int64_t ns : t.wakesSeen) events.push_back({ns, "wake"});
    std::sort(events.begin(), events.end(), [](const ParkWake& a, const ParkWake& b) { return a.ns < b.ns; });
    height = 0;
    if (events.empty() || t.frames.size() < 2) return {};
    const size_t unplotted = events.size() > kMaxPlots ? events.size() - kMaxPlots : 0;
    events.resize(events.size() - unplotted);
    const bool inOrder =
        std::is_sorted(t.frames.begin(), t.frames.end(),
                       [](const TraceFrame& a, const TraceFrame& b) { return a.startNs < b.startNs; });
    const double left = 170, right = width - 30;
    // Two plots a row.
    const double plotWidth = (right - left - 40) / 2;
    std::string out = "<g id=\"frame-intervals\">\n";
    appendFormat(
        out,
        "<text x=\"20\" y=\"%.1f\" font-size=\"15\" font-weight=\"bold\">Frame intervals around each "
        "park and wake (trace)</text>\n",
        top + 20);
    for (size_t e = 0; e < events.size(); ++e) {
        const double x0 = left + (e % 2) * (plotWidth + 40);
        const double y0 = top + 40 + (e / 2) * (kPlotHeight + kPlotGap);
        // Intervals of the frames begun within the window, scaled to their largest (40 to 100 ms);
        // the interval across a park is its whole hold: clipped to the top, in red.
        std::vector<std::pair<double, double>> points;
        double peak = 40.0;
        size_t i = 1;
        if (inOrder) {  // from the window's first frame
            const int64_t from = events[e].ns - int64_t(kWindowMs) * 1000000;
            i = std::max<size_t>(
                1, size_t(std::lower_bound(t.frames.begin(), t.frames.end(), from,
                                           [](const TraceFrame& f, int64_t ns) { return f.startNs < ns; }) -
                          t.frames.begin()));
        }
        for (; i < t.frames.size() && points.size() < kMaxDots; ++i) {
            const double at = (t.frames[i].startNs - events[e].ns) / 1e6;
            if (inOrder && at > kWindowMs) break;
            if (at < -kWindowMs || at > kWindowMs) continue;
            const double interval = (t.frames[i].startNs - t.frames[i - 1].startNs) / 1e6;
            points.push_back({at, interval});
            peak = std::max(peak, std::min(interval, kClipMs));
        }
        const int64_t localMs = t.clockLocalMs + (events[e].ns - t.clockSteadyNs) / 1000000;
        appendFormat(
            out,
            "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#999\"/>\n"
            "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">%s at %02d:%02d:%02d.%03d: frame interval (ms, "
            "0-%.0f), &#177;1 s</text>\n"
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c00\"/>\n",
            x0, y0, plotWidth, kPlotHeight, x0, y0 - 6, events[e].name, int(localMs / 3600000 % 24),
            int(localMs / 60000 % 60), int(localMs / 1000 % 60), int(localMs % 1000), peak,
            x0 + plotWidth / 2, y0, x0 + plotWidth / 2, y0 + kPlotHeight);
        for (const auto& [at, interval] : points) {
            appendFormat(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"1.8\" fill=\"%s\"/>\n",
                         x0 + (at + kWindowMs) / (2 * kWindowMs) * plotWidth,
                         y0 + kPlotHeight - std::min(interval, peak) / peak * kPlotHeight,
                         interval > peak ? "#c00" : "#236");
        }
    }
    height = 40 + ((events.size() + 1) / 2) * (kPlotHeight + kPlotGap);
    if (unplotted > 0) {
        appendFormat(
            out, "<text x=\"20\" y=\"%.1f\" font-size=\"12\">%zu more parks and wakes not plotted</text>\n",
            top + height, unplotted);
        height += 20;
    }
    out += "</g>\n";
    return out;
}

namespace {

// The marker kinds (the lines "NAME hh:mm:ss.mmm"), named as the log names them.
const char* markerName(EventKind kind) {
    switch (kind) {
        case EventKind::InitStart:
        case EventKind::InitDone:
        case EventKind::FirstDraw:
        case EventKind::ParkRequest:
        case EventKind::ParkDone:
        case EventKind::DozeSleepRequest:
        case EventKind::DozeAsleep:
        case EventKind::WakeRequest:
        case EventKind::BenchEnd:
            return eventName(kind);
        default:
            return nullptr;
    }
}

constexpr int64_t kDayMs = 86400000;

template <typename... Args>
std::string sentence(const char* format, Args... args) {
    return formatted(format, args...);
}

}  // namespace

TraceMatch matchTraceToLogs(const TraceFile& t, const std::vector<ParsedLog>& logs) {
    TraceMatch match;
    if (t.markers.empty()) {
        match.disagreements.push_back("the trace has no marker to match a log by");
        return match;
    }
    const TraceMarker& key = t.markers.front();
    size_t number = 0;
    for (const ParsedLog& log : logs)
        for (const LoggedRun& run : log.runs) {
            ++number;
            for (const Event& e : run.events) {
                const char* name = markerName(e.kind);
                if (name != nullptr && e.timed && key.name == name && e.ms % kDayMs == key.localMs) {
                    match.run = &run;
                    match.runNumber = number;
                    break;
                }
                if (name != nullptr) break;  // only the run's first marker identifies it
            }
            if (match.run != nullptr) break;
        }
    if (match.run == nullptr) {
        match.disagreements.push_back(
            sentence("no run of the logs has its first marker %s at the trace's time", key.name.c_str()));
        return match;
    }
    const LoggedRun& run = *match.run;
    if (t.dropped > 0)
        match.disagreements.push_back(sentence("the trace lost %llu records (its ring was full)",
                                               static_cast<unsigned long long>(t.dropped)));
    if (run.result.presentSeen && run.result.frames != t.frames.size())
        match.disagreements.push_back(sentence("frames: the log says %llu, the trace has %zu",
                                               static_cast<unsigned long long>(run.result.frames),
                                               t.frames.size()));
    std::vector<std::pair<std::string, int64_t>> logged;
    for (const Event& e : run.events)
        if (const char* name = markerName(e.kind); name != nullptr && e.timed)
            logged.push_back({name, e.ms % kDayMs});
    const size_t n = std::min(logged.size(), t.markers.size());
    for (size_t i = 0; i < n; ++i) {
        if (logged[i].first == t.markers[i].name && logged[i].second == t.markers[i].localMs) continue;
        match.disagreements.push_back(
            sentence("marker %zu: the log has %s at %lld ms of the day, the trace %s at %lld", i + 1,
                     logged[i].first.c_str(), static_cast<long long>(logged[i].second),
                     t.markers[i].name.c_str(), static_cast<long long>(t.markers[i].localMs)));
        break;
    }
    if (logged.size() != t.markers.size())
        match.disagreements.push_back(
            sentence("markers: the log has %zu, the trace %zu", logged.size(), t.markers.size()));
    match.markers = n;
    return match;
}

}  // namespace corva::report
