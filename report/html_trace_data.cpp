// The page's one reader of a frame-level trace: its records as columns of ms since the
// trace's clock line, the form the timeline chart takes them in.
#include <algorithm>

#include "report/html_data.h"

namespace corva::report {

using nlohmann::ordered_json;

namespace {

// Vertical blanks that showed the frame before again: two frames in a row whose signalled
// vertical blanks lie more than 1.5 refresh periods apart leave a blank per further period
// between them. Not across a park (the panels were off) nor across frames without a signalled
// wait (free run). The period is the display mode's, else the shortest usual gap.
ordered_json repeatedVblanks(const trace::TraceFile& t, double refreshHz) {
    ordered_json out = ordered_json::array();
    int64_t period = refreshHz > 0 ? static_cast<int64_t>(1e9 / refreshHz) : 0;
    if (period == 0) {
        std::vector<int64_t> gaps;
        for (size_t i = 1; i < t.frames.size(); ++i)
            if (t.frames[i].wait == 's' && t.frames[i - 1].wait == 's' &&
                t.frames[i].vblankNs > t.frames[i - 1].vblankNs)
                gaps.push_back(t.frames[i].vblankNs - t.frames[i - 1].vblankNs);
        if (gaps.empty()) return out;
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 10, gaps.end());
        period = gaps[gaps.size() / 10];
    }
    if (period <= 0) return out;
    std::vector<int64_t> parks;  // the panels' power-off calls and the loop's parked records
    for (const trace::TracePanelCall& p : t.panels)
        if (!p.on) parks.push_back(p.callNs);
    parks.insert(parks.end(), t.parked.begin(), t.parked.end());
    for (size_t i = 1; i < t.frames.size(); ++i) {
        const trace::TraceFrame& a = t.frames[i - 1];
        const trace::TraceFrame& b = t.frames[i];
        if (a.wait != 's' || b.wait != 's' || (b.vblankNs - a.vblankNs) * 2 <= period * 3) continue;
        const bool parked = std::any_of(parks.begin(), parks.end(),
                                        [&](int64_t ns) { return ns >= a.startNs && ns <= b.vblankNs; });
        if (parked) continue;
        for (int64_t at = a.vblankNs + period; at + period / 2 < b.vblankNs; at += period)
            out.push_back(htmlMs(trace::traceMs(t, at)));
    }
    return out;
}

}  // namespace

ordered_json traceTimelineData(const trace::TraceFile& t, double refreshHz) {
    ordered_json index = ordered_json::array(), start = ordered_json::array(), submit = ordered_json::array(),
                 present = ordered_json::array(), vblank = ordered_json::array(),
                 lead = ordered_json::array(), freeRunning = ordered_json::array(),
                 status = ordered_json::array();
    for (const trace::TraceFrame& f : t.frames) {
        index.push_back(f.index);
        start.push_back(htmlMs(trace::traceMs(t, f.startNs)));
        submit.push_back(htmlMs(trace::traceMs(t, f.submitNs)));
        present.push_back(htmlMs(trace::traceMs(t, f.presentNs)));
        vblank.push_back(f.wait == 's' ? ordered_json(htmlMs(trace::traceMs(t, f.vblankNs)))
                                       : ordered_json(nullptr));
        lead.push_back(f.leadNs != 0 ? ordered_json(htmlMs(f.leadNs / 1e6)) : ordered_json(nullptr));
        freeRunning.push_back(f.freeRunning ? 1 : 0);
        status.push_back(f.presentStatus);
    }
    ordered_json markers = ordered_json::array();
    for (const trace::TraceMarker& m : t.markers)
        markers.push_back({{"ms", htmlMs(trace::traceMs(t, m.ns))}, {"name", m.name}});
    ordered_json panels = ordered_json::array();
    for (const trace::TracePanelCall& p : t.panels)
        panels.push_back({{"call", htmlMs(trace::traceMs(t, p.callNs))},
                          {"ret", htmlMs(trace::traceMs(t, p.returnNs))},
                          {"on", p.on},
                          {"status", p.status}});
    ordered_json dstat = ordered_json::array();
    for (const trace::TraceDstat& d : t.dstat)
        dstat.push_back({{"ms", htmlMs(trace::traceMs(t, d.ns))}, {"from", d.from}, {"to", d.to}});
    // Free-run spans: from a start to the next end (or the last frame).
    ordered_json spans = ordered_json::array();
    double openAt = -1;
    for (const trace::TraceFreeRun& r : t.freeRuns) {
        const double at = htmlMs(trace::traceMs(t, r.ns));
        if (r.started && openAt < 0) openAt = at;
        if (!r.started && openAt >= 0) {
            spans.push_back({openAt, at});
            openAt = -1;
        }
    }
    if (openAt >= 0 && !t.frames.empty())
        spans.push_back({openAt, htmlMs(trace::traceMs(t, t.frames.back().startNs))});
    ordered_json errors = ordered_json::array();
    for (const trace::TracePresentError& e : t.presentErrors)
        errors.push_back({{"ms", htmlMs(trace::traceMs(t, e.ns))}, {"frame", e.frame}, {"status", e.status}});
    ordered_json link = ordered_json::array();
    for (const trace::TraceLinkChange& l : t.linkChanges)
        link.push_back({{"ms", htmlMs(trace::traceMs(t, l.ns))}, {"lost", l.lost}});
    return {{"frames",
             {{"index", index},
              {"start", start},
              {"submit", submit},
              {"present", present},
              {"vblank", vblank},
              {"lead", lead},
              {"free_running", freeRunning},
              {"status", status}}},
            {"repeated", repeatedVblanks(t, refreshHz)},
            {"markers", markers},
            {"panels", panels},
            {"dstat", dstat},
            {"free_runs", spans},
            {"present_errors", errors},
            {"link", link},
            {"dropped", t.dropped}};
}

}  // namespace corva::report
