#include "report/wake_phases_line.h"

#include <charconv>
#include <cmath>

#include "lines/line_scan.h"
#include "lines/printed_lines.h"

namespace corva::report {
namespace {

bool number(std::string_view text, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

// One step: a number, or "-" (left at -1).
bool phase(std::string_view text, double& out) {
    if (text == lines::kNoPhase) {
        out = -1.0;
        return true;
    }
    return number(text, out) && out >= 0.0;
}

}  // namespace

bool parseWakePhases(std::string_view line, WakePhases& out) {
    std::string_view react, mode, power, vblank, on;
    if (!lines::scan(lines::kWakePhases, line, react, mode, power, vblank, on)) return false;
    WakePhases p;
    if (!phase(react, p.reactMs) || !phase(mode, p.modeMs) || !phase(power, p.powerMs) ||
        !phase(vblank, p.vblankMs))
        return false;
    if (on != lines::kNoPhase) {
        const size_t dots = on.find(lines::kIntervalDots);
        if (dots == std::string_view::npos || !number(on.substr(0, dots), p.onLoMs) ||
            !number(on.substr(dots + lines::kIntervalDots.size()), p.onHiMs) || p.onHiMs < p.onLoMs)
            return false;
        p.interval = true;
    }
    p.seen = true;
    out = p;
    return true;
}

}  // namespace corva::report
