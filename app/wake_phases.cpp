#include "app/wake_phases.h"

#include <cmath>
#include <cstdio>

namespace corva {

namespace {

// One phase: milliseconds from the request, or "-".
void phaseText(char (&text)[24], int64_t stampNs, int64_t requestNs) {
    if (stampNs == 0 || stampNs < requestNs)
        std::snprintf(text, sizeof text, "-");
    else
        std::snprintf(text, sizeof text, "%.1f", double(stampNs - requestNs) / 1e6);
}

// An interval's bound, rounded outward to the printed tenth so that the printed interval
// still holds what the stamps hold.
double boundMs(int64_t stampNs, int64_t requestNs, bool upper) {
    const double tenths = double(stampNs - requestNs) / 1e5;
    return (upper ? std::ceil(tenths) : std::floor(tenths)) / 10.0;
}

}  // namespace

WakePhaseFields wakePhaseFields(const WakePhaseTimes& t) {
    WakePhaseFields f{};
    phaseText(f.react, t.reactNs, t.requestNs);
    phaseText(f.mode, t.modeNs, t.requestNs);
    phaseText(f.power, t.powerNs, t.requestNs);
    phaseText(f.vblank, t.vblankNs, t.requestNs);
    // The last off report may have come before the request (a wake quicker than one
    // report); only a first-on report after the request is this wake's.
    if (t.onLoNs != 0 && t.onHiNs >= t.requestNs && t.onHiNs >= t.onLoNs)
        std::snprintf(f.on, sizeof f.on, "%.1f..%.1f", boundMs(t.onLoNs, t.requestNs, false),
                      boundMs(t.onHiNs, t.requestNs, true));
    else
        std::snprintf(f.on, sizeof f.on, "-");
    return f;
}

}  // namespace corva
