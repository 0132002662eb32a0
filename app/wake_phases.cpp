#include "app/wake_phases.h"

#include <cmath>

namespace corva {

namespace {

// One phase: milliseconds from the request, or none.
lines::OptionalMs phaseMs(int64_t stampNs, int64_t requestNs) {
    if (stampNs == 0 || stampNs < requestNs) return {};
    return {true, double(stampNs - requestNs) / 1e6};
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
    f.react = phaseMs(t.reactNs, t.requestNs);
    f.mode = phaseMs(t.modeNs, t.requestNs);
    f.power = phaseMs(t.powerNs, t.requestNs);
    f.vblank = phaseMs(t.vblankNs, t.requestNs);
    // The last off report may have come before the request (a wake quicker than one
    // report); only a first-on report after the request is this wake's.
    if (t.onLoNs != 0 && t.onHiNs >= t.requestNs && t.onHiNs >= t.onLoNs)
        f.on = {true, boundMs(t.onLoNs, t.requestNs, false), boundMs(t.onHiNs, t.requestNs, true)};
    return f;
}

}  // namespace corva
