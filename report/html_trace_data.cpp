// The page's one reader of a frame-level trace: its records as columns of ms since the
// trace's clock line, the form the timeline chart takes them in. A page stays small whatever
// the trace: every frame within a second of a marker, a thinned view of the others, and at
// most so many of each other record; the page says what it left out.
#include <algorithm>
#include <cstdint>

#include "report/html_data.h"
#include "report/report_text.h"

namespace corva::report {

using nlohmann::ordered_json;

namespace {

// 60 to 130 bytes of the page a frame (longer times, longer numbers): 25,000 frames (all of a
// 4-minute run at 90 Hz) and the other records' bounds keep a page under 4 MB whatever the
// trace, which a browser opens in a few seconds.
constexpr size_t kPageFrames = 25000;
constexpr size_t kFramesNearMarkers = 16000;
constexpr int64_t kNearMarkerNs = 1000000000;
constexpr size_t kPageRecordsPerKind = 2000;  // markers, panel calls, dstat changes, ...
constexpr size_t kPageRepeated = 10000;

struct FrameChoice {
    std::vector<bool> kept;
    size_t shown = 0;
    size_t nearMarkers = 0;
    size_t every = 1;  // of the other frames, every this many
};

FrameChoice chooseFrames(const trace::TraceFile& t) {
    FrameChoice choice;
    const size_t n = t.frames.size();
    choice.kept.assign(n, n <= kPageFrames);
    if (n <= kPageFrames) {
        choice.shown = n;
        return choice;
    }
    const auto byStart = [](const trace::TraceFrame& f, int64_t ns) { return f.startNs < ns; };
    if (std::is_sorted(
            t.frames.begin(), t.frames.end(),
            [](const trace::TraceFrame& a, const trace::TraceFrame& b) { return a.startNs < b.startNs; })) {
        for (const trace::TraceMarker& m : t.markers) {
            const int64_t from = m.ns > INT64_MIN + kNearMarkerNs ? m.ns - kNearMarkerNs : INT64_MIN;
            const int64_t to = m.ns < INT64_MAX - kNearMarkerNs ? m.ns + kNearMarkerNs : INT64_MAX;
            size_t i =
                size_t(std::lower_bound(t.frames.begin(), t.frames.end(), from, byStart) - t.frames.begin());
            for (; i < n && t.frames[i].startNs <= to && choice.nearMarkers < kFramesNearMarkers; ++i) {
                if (choice.kept[i]) continue;
                choice.kept[i] = true;
                ++choice.nearMarkers;
            }
            if (choice.nearMarkers >= kFramesNearMarkers) break;
        }
    }
    const size_t others = n - choice.nearMarkers;
    const size_t room = kPageFrames - choice.nearMarkers;
    choice.every = (others + room - 1) / room;
    size_t other = 0;
    for (size_t i = 0; i < n; ++i) {
        if (choice.kept[i]) continue;
        if (other++ % choice.every == 0) choice.kept[i] = true;
    }
    choice.shown = size_t(std::count(choice.kept.begin(), choice.kept.end(), true));
    return choice;
}

// Vertical blanks that showed the frame before again: two frames in a row whose signalled
// vertical blanks lie more than 1.5 refresh periods apart leave a blank per further period
// between them. Not across a park (the panels were off) nor across frames without a signalled
// wait (free run). The period is the display mode's, else the shortest usual gap. Only
// between frames the page shows, and at most kPageRepeated: the work follows the records,
// whatever time they span.
ordered_json repeatedVblanks(const trace::TraceFile& t, double refreshHz, const std::vector<bool>& kept) {
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
    std::sort(parks.begin(), parks.end());
    for (size_t i = 1; i < t.frames.size() && out.size() < kPageRepeated; ++i) {
        const trace::TraceFrame& a = t.frames[i - 1];
        const trace::TraceFrame& b = t.frames[i];
        if (!kept[i - 1] || !kept[i] || a.wait != 's' || b.wait != 's' ||
            (double(b.vblankNs) - double(a.vblankNs)) * 2 <= double(period) * 3)
            continue;
        const auto park = std::lower_bound(parks.begin(), parks.end(), a.startNs);
        if (park != parks.end() && *park <= b.vblankNs) continue;
        for (int64_t at = a.vblankNs + period; at + period / 2 < b.vblankNs && out.size() < kPageRepeated;
             at += period)
            out.push_back(htmlMs(trace::traceMs(t, at)));
    }
    return out;
}

// The first kPageRecordsPerKind records of a kind, each as `toJson` makes it; `left` counts
// the others.
template <typename Record, typename ToJson>
ordered_json firstRecords(const std::vector<Record>& records, size_t& left, ToJson toJson) {
    ordered_json out = ordered_json::array();
    for (size_t i = 0; i < records.size() && i < kPageRecordsPerKind; ++i) out.push_back(toJson(records[i]));
    left += records.size() - std::min(records.size(), kPageRecordsPerKind);
    return out;
}

}  // namespace

ordered_json traceTimelineData(const trace::TraceFile& t, double refreshHz) {
    const FrameChoice choice = chooseFrames(t);
    ordered_json index = ordered_json::array(), start = ordered_json::array(), submit = ordered_json::array(),
                 present = ordered_json::array(), vblank = ordered_json::array(),
                 lead = ordered_json::array(), freeRunning = ordered_json::array(),
                 status = ordered_json::array();
    for (size_t i = 0; i < t.frames.size(); ++i) {
        if (!choice.kept[i]) continue;
        const trace::TraceFrame& f = t.frames[i];
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
    size_t left = 0;  // records of other kinds not on the page
    const ordered_json markers = firstRecords(t.markers, left, [&](const trace::TraceMarker& m) {
        return ordered_json{{"ms", htmlMs(trace::traceMs(t, m.ns))}, {"name", utf8Escaped(m.name)}};
    });
    const ordered_json panels = firstRecords(t.panels, left, [&](const trace::TracePanelCall& p) {
        return ordered_json{{"call", htmlMs(trace::traceMs(t, p.callNs))},
                            {"ret", htmlMs(trace::traceMs(t, p.returnNs))},
                            {"on", p.on},
                            {"status", p.status}};
    });
    const ordered_json dstat = firstRecords(t.dstat, left, [&](const trace::TraceDstat& d) {
        return ordered_json{{"ms", htmlMs(trace::traceMs(t, d.ns))}, {"from", d.from}, {"to", d.to}};
    });
    // Free-run spans: from a start to the next end (or the last frame).
    ordered_json spans = ordered_json::array();
    double openAt = -1;
    for (const trace::TraceFreeRun& r : t.freeRuns) {
        const double at = htmlMs(trace::traceMs(t, r.ns));
        if (r.started && openAt < 0) openAt = at;
        if (!r.started && openAt >= 0) {
            if (spans.size() < kPageRecordsPerKind) spans.push_back({openAt, at});
            openAt = -1;
        }
    }
    if (openAt >= 0 && !t.frames.empty() && spans.size() < kPageRecordsPerKind)
        spans.push_back({openAt, htmlMs(trace::traceMs(t, t.frames.back().startNs))});
    const ordered_json errors = firstRecords(t.presentErrors, left, [&](const trace::TracePresentError& e) {
        return ordered_json{
            {"ms", htmlMs(trace::traceMs(t, e.ns))}, {"frame", e.frame}, {"status", e.status}};
    });
    const ordered_json link = firstRecords(t.linkChanges, left, [&](const trace::TraceLinkChange& l) {
        return ordered_json{{"ms", htmlMs(trace::traceMs(t, l.ns))}, {"lost", l.lost}};
    });
    return {{"frames",
             {{"index", index},
              {"start", start},
              {"submit", submit},
              {"present", present},
              {"vblank", vblank},
              {"lead", lead},
              {"free_running", freeRunning},
              {"status", status}}},
            {"repeated", repeatedVblanks(t, refreshHz, choice.kept)},
            {"markers", markers},
            {"panels", panels},
            {"dstat", dstat},
            {"free_runs", spans},
            {"present_errors", errors},
            {"link", link},
            {"dropped", t.dropped},
            {"shown",
             {{"frames", t.frames.size()},
              {"frames_shown", choice.shown},
              {"near_markers", choice.nearMarkers},
              {"every", choice.every},
              {"other_records_left_out", left}}}};
}

}  // namespace corva::report
