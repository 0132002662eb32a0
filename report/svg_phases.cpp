#include "report/svg_phases.h"

#include <vector>

namespace corva::report {
namespace {

struct Segment {
    const char* name;
    const char* colour;
};

// The steps in the order they happen; each bar segment ends at its step.
constexpr Segment kSegments[] = {
    {"reaction", "#b0bec5"},
    {"mode set", "#ffcc80"},
    {"power on", "#ef9a9a"},
    {"first vblank", "#ce93d8"},
    {"panel to displays on (midpoint)", "#a5d6a7"},
};

std::vector<double> stepEnds(const WakePhases& p) {
    return {p.reactMs, p.modeMs, p.powerMs, p.vblankMs, p.interval ? (p.onLoMs + p.onHiMs) / 2.0 : -1.0};
}

}  // namespace

void drawWakePhases(Svg& svg, const LoggedRun& run, double left, double right, double top, double bottom) {
    std::vector<const Cycle*> timed;
    double most = 1.0;
    for (const Cycle& c : run.cycles) {
        if (!c.phases.seen) continue;
        timed.push_back(&c);
        for (double end : stepEnds(c.phases)) most = std::max(most, end);
        if (c.phases.interval) most = std::max(most, c.phases.onHiMs);
    }
    svg.text(20, top - 30, "Wake phases of this run's cycles, ms from WAKE_REQUEST (WAKE_PHASES)",
             "font-size=\"15\" font-weight=\"bold\"");
    if (timed.empty()) {
        svg.text(left, (top + bottom) / 2, "no cycle of this run printed its wake phases",
                 "font-size=\"12\"");
        return;
    }
    const double tick = niceStep(most, 8);
    const double hi = std::ceil(most / tick) * tick;
    auto y = [&](double ms) { return bottom - (bottom - top) * std::max(ms, 0.0) / hi; };
    for (double v = 0; v <= hi + 1e-9; v += tick) {
        svg.line(left - 5, y(v), left, y(v), "stroke=\"#444\"");
        svg.text(left - 8, y(v) + 4, tickLabel(v, tick), "text-anchor=\"end\" font-size=\"11\"");
    }
    svg.line(left, top, left, bottom, "stroke=\"#444\"");
    svg.line(left, bottom, right, bottom, "stroke=\"#444\"");
    const double slot = (right - left) / double(timed.size());
    const double width = std::min(60.0, slot * 0.6);
    for (size_t i = 0; i < timed.size(); ++i) {
        const WakePhases& p = timed[i]->phases;
        const double x = left + slot * (double(i) + 0.5) - width / 2;
        double from = 0.0;
        const std::vector<double> ends = stepEnds(p);
        for (size_t k = 0; k < ends.size(); ++k) {
            if (ends[k] < from) continue;  // a step this wake did not take
            char fill[64];
            std::snprintf(fill, sizeof fill, "fill=\"%s\" stroke=\"#555\"", kSegments[k].colour);
            svg.rect(x, y(ends[k]), width, y(from) - y(ends[k]), fill);
            from = ends[k];
        }
        if (p.interval) {  // the displays came on somewhere in here
            const double mid = x + width / 2;
            svg.line(mid, y(p.onLoMs), mid, y(p.onHiMs), "stroke=\"#1b5e20\" stroke-width=\"2\"");
            svg.line(mid - 8, y(p.onLoMs), mid + 8, y(p.onLoMs), "stroke=\"#1b5e20\" stroke-width=\"2\"");
            svg.line(mid - 8, y(p.onHiMs), mid + 8, y(p.onHiMs), "stroke=\"#1b5e20\" stroke-width=\"2\"");
        }
        svg.text(x + width / 2, bottom + 16, "cycle " + std::to_string(timed[i]->number),
                 "text-anchor=\"middle\" font-size=\"11\"");
    }
    double lx = left;
    for (const Segment& s : kSegments) {
        char fill[64];
        std::snprintf(fill, sizeof fill, "fill=\"%s\" stroke=\"#555\"", s.colour);
        svg.rect(lx, bottom + 26, 12, 12, fill);
        svg.text(lx + 16, bottom + 36, s.name, "font-size=\"11\"");
        lx += 40 + 6.5 * double(std::string_view(s.name).size());
    }
    svg.text(lx, bottom + 36, "error bar: displays-on interval (last report off .. first report on)",
             "font-size=\"11\" fill=\"#1b5e20\"");
}

}  // namespace corva::report
