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
void boundText(char (&text)[24], int64_t stampNs, int64_t requestNs, bool upper) {
    const double tenths = double(stampNs - requestNs) / 1e5;
    std::snprintf(text, sizeof text, "%.1f", (upper ? std::ceil(tenths) : std::floor(tenths)) / 10.0);
}

}  // namespace

size_t formatWakePhases(char* out, size_t size, const WakePhaseTimes& t) {
    char react[24], mode[24], power[24], vblank[24], lo[24], hi[24];
    phaseText(react, t.reactNs, t.requestNs);
    phaseText(mode, t.modeNs, t.requestNs);
    phaseText(power, t.powerNs, t.requestNs);
    phaseText(vblank, t.vblankNs, t.requestNs);
    // The last off report may have come before the request (a wake quicker than one
    // report); only a first-on report after the request is this wake's.
    const bool interval = t.onLoNs != 0 && t.onHiNs >= t.requestNs && t.onHiNs >= t.onLoNs;
    if (interval) {
        boundText(lo, t.onLoNs, t.requestNs, false);
        boundText(hi, t.onHiNs, t.requestNs, true);
    }
    const int n =
        std::snprintf(out, size, "WAKE_PHASES react=%s mode=%s power=%s vblank=%s on=%s%s%s ms\n", react,
                      mode, power, vblank, interval ? lo : "-", interval ? ".." : "", interval ? hi : "");
    if (n < 0) return 0;
    return size_t(n) < size ? size_t(n) : (size > 0 ? size - 1 : 0);
}

}  // namespace corva
