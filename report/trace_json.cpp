// Chrome trace-event JSON of a trace: frames as slices on the present loop's track, vertical
// blanks as instants, panel power and park/doze as slices, dstat bits and fps as counters,
// markers as instants, every track named. Times in microseconds from the trace's clock line.
#include "report/trace_outputs.h"

#include "lines/printed_lines.h"
#include "report/report_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace corva::report {

using trace::TraceDstat;
using trace::TraceFile;
using trace::TraceFrame;
using trace::TraceFreeRun;
using trace::TraceLinkChange;
using trace::TraceMarker;
using trace::traceMs;
using trace::TracePanelCall;
using trace::TracePresentError;

namespace {

using nlohmann::json;

constexpr int kPid = 1;
constexpr size_t kZeroSecondsBudget = 3600;

// An event as its text, with what orders it: a trace's events in JSON objects take about 50
// times the trace's bytes, their text about 7.
struct JsonEvent {
    int tid;
    double ts;
    std::string text;
};

struct Builder {
    const TraceFile& trace;
    std::vector<JsonEvent> events;

    void add(const json& event) {
        events.push_back({event["tid"].get<int>(), event["ts"].get<double>(), event.dump()});
    }

    double us(int64_t ns) const { return static_cast<double>(ns - trace.clockSteadyNs) / 1e3; }

    void slice(int tid, const char* name, int64_t fromNs, int64_t toNs, json args = json::object()) {
        add({{"name", name},
             {"ph", "X"},
             {"pid", kPid},
             {"tid", tid},
             {"ts", us(fromNs)},
             {"dur", std::max(0.0, us(toNs) - us(fromNs))},
             {"args", std::move(args)}});
    }
    void instant(int tid, const std::string& name, int64_t ns, json args = json::object()) {
        add({{"name", name},
             {"ph", "i"},
             {"s", "t"},
             {"pid", kPid},
             {"tid", tid},
             {"ts", us(ns)},
             {"args", std::move(args)}});
    }
    void counter(const char* name, int64_t ns, json args) {
        add({{"name", name},
             {"ph", "C"},
             {"pid", kPid},
             {"tid", kTrackTelemetry},
             {"ts", us(ns)},
             {"args", std::move(args)}});
    }
    void threadName(int tid, const char* name) {
        add({{"name", "thread_name"},
             {"ph", "M"},
             {"pid", kPid},
             {"tid", tid},
             {"ts", 0},
             {"args", {{"name", name}}}});
    }
};

// The last time the trace speaks of.
int64_t traceEndNs(const TraceFile& t) {
    int64_t end = t.clockSteadyNs;
    for (const TraceFrame& f : t.frames) end = std::max({end, f.presentNs, f.vblankNs});
    for (const TraceMarker& m : t.markers) end = std::max(end, m.ns);
    for (const TracePanelCall& p : t.panels) end = std::max(end, p.returnNs);
    return end;
}

const char* waitName(char wait) {
    return wait == 's' ? "signalled" : wait == 't' ? "timed out" : "no waitable";
}

void addFrames(Builder& b) {
    const TraceFile& t = b.trace;
    for (const TraceFrame& f : t.frames) {
        const int64_t end = f.wait == 'n' ? f.presentNs : f.vblankNs;
        json args = {{"frame", f.index},
                     {"submit_ms", (f.submitNs - f.startNs) / 1e6},
                     {"present_ms", (f.presentNs - f.startNs) / 1e6},
                     {"vblank_wait", waitName(f.wait)},
                     {"free_running", f.freeRunning},
                     {"present_status", f.presentStatus}};
        if (f.predictedNs != 0) args["predicted_display_ms"] = traceMs(t, f.predictedNs);
        if (f.leadNs != 0) args["lead_ms"] = f.leadNs / 1e6;
        b.slice(kTrackFrames, "frame", f.startNs, end, std::move(args));
        if (f.wait == 's') b.instant(kTrackFrames, "vblank", f.vblankNs, {{"frame", f.index}});
    }
    // Frames per second: frames begun in each second of the trace, and a zero for each second
    // without one. The zeros are bounded by the frames, not the span: past an hour's worth and
    // one a frame, a gap gets only its first zero (the counter holds it to the next frame).
    if (t.frames.empty()) return;
    const int64_t first = t.frames.front().startNs;
    size_t zerosLeft = kZeroSecondsBudget + t.frames.size();
    int64_t second = 0;
    int count = 0;
    for (const TraceFrame& f : t.frames) {
        const int64_t at = (f.startNs - first) / 1000000000;
        if (at != second) {
            b.counter("fps", first + second * 1000000000, {{"fps", count}});
            for (int64_t gap = second + 1; gap < at && (gap == second + 1 || zerosLeft > 0); ++gap) {
                b.counter("fps", first + gap * 1000000000, {{"fps", 0}});
                if (gap != second + 1) --zerosLeft;
            }
            second = at;
            count = 0;
        }
        ++count;
    }
    b.counter("fps", first + second * 1000000000, {{"fps", count}});
}

// Panel power as "panels on" / "panels off" slices between the returns of the calls; park
// (published parked to the wake seen) and doze (the markers) as slices.
void addPanelsAndParks(Builder& b) {
    const TraceFile& t = b.trace;
    const int64_t endNs = traceEndNs(t);
    for (size_t i = 0; i < t.panels.size(); ++i) {
        const TracePanelCall& p = t.panels[i];
        const int64_t until = i + 1 < t.panels.size() ? t.panels[i + 1].callNs : endNs;
        json args = {{"status", p.status}, {"call_ms", (p.returnNs - p.callNs) / 1e6}};
        if (p.on) args["mode_status"] = p.modeStatus;
        b.slice(kTrackPanels, p.on ? "panels on" : "panels off", p.returnNs, std::max(until, p.returnNs),
                args);
    }
    std::vector<int64_t> wakes = t.wakesSeen;
    std::sort(wakes.begin(), wakes.end());
    for (const int64_t from : t.parked) {
        const auto wake = std::lower_bound(wakes.begin(), wakes.end(), from);
        int64_t to = wake != wakes.end() ? *wake : from;
        if (to == from) to = std::max(from, endNs);  // parked when the run ended
        b.slice(kTrackParkDoze, "parked", from, to);
    }
    int64_t dozeFrom = 0;
    for (const TraceMarker& m : t.markers) {
        if (m.name == lines::kDozeSleepRequest) dozeFrom = m.ns;
        if (m.name == lines::kWakeRequest && dozeFrom != 0) {
            b.slice(kTrackParkDoze, "doze", dozeFrom, m.ns);
            dozeFrom = 0;
        }
    }
}

void addEvents(Builder& b) {
    const TraceFile& t = b.trace;
    for (const TraceMarker& m : t.markers) b.instant(kTrackRunControl, utf8Escaped(m.name), m.ns);
    for (const TraceDstat& d : t.dstat) {
        b.counter("dstat", d.ns, {{"disp", d.to & 1}, {"proxOn", (d.to >> 1) & 1}, {"dsc", (d.to >> 3) & 1}});
        b.instant(kTrackTelemetry, "DSTAT_CHANGE", d.ns, {{"from", d.from}, {"to", d.to}});
    }
    for (const TraceFreeRun& r : t.freeRuns)
        b.instant(kTrackFrames, r.started ? "free-run start" : "free-run end", r.ns,
                  {{"announced", r.announced}});
    for (const TracePresentError& e : t.presentErrors)
        b.instant(kTrackFrames, "present error", e.ns, {{"frame", e.frame}, {"status", e.status}});
    for (const TraceLinkChange& l : t.linkChanges)
        b.instant(kTrackTelemetry, l.lost ? "link lost" : "link back", l.ns);
}

}  // namespace

std::string traceEventJson(const TraceFile& trace) {
    Builder b{trace, {}};
    addFrames(b);
    addPanelsAndParks(b);
    addEvents(b);
    // Each track in time order; the names first.
    std::stable_sort(b.events.begin(), b.events.end(), [](const JsonEvent& x, const JsonEvent& y) {
        return std::make_pair(x.tid, x.ts) < std::make_pair(y.tid, y.ts);
    });
    Builder names{trace, {}};
    names.add({{"name", "process_name"},
               {"ph", "M"},
               {"pid", kPid},
               {"tid", 0},
               {"ts", 0},
               {"args", {{"name", "tessaray"}}}});
    names.threadName(kTrackFrames, "present loop");
    names.threadName(kTrackRunControl, "run control (markers)");
    names.threadName(kTrackPanels, "panel power");
    names.threadName(kTrackParkDoze, "park / doze");
    names.threadName(kTrackTelemetry, "proximity telemetry");
    const json otherData = {{"source", utf8Escaped(trace.source)},
                            {"version", trace.version},
                            {"clock_local_ms_of_day", trace.clockLocalMs},
                            {"clock_unix_ms", trace.clockUnixMs},
                            {"dropped_records", trace.dropped},
                            {"complete", trace.ended && !trace.cut}};
    std::string out =
        "{\"displayTimeUnit\":\"ms\",\"otherData\":" + otherData.dump() + ",\"traceEvents\":[\n";
    bool first = true;
    for (auto* events : {&names.events, &b.events})
        for (JsonEvent& e : *events) {
            out += first ? "" : ",\n";
            out += e.text;
            std::string().swap(e.text);  // the text is in the output now
            first = false;
        }
    return out + "\n]}\n";
}

}  // namespace corva::report
