#include "present/mode_select.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"

#include <cmath>

namespace corva {

double modeRefreshHz(const NvDirectModeMode& mode) {
    if (mode.refreshDen == 0) return 0.0;
    return static_cast<double>(mode.refreshNum) / static_cast<double>(mode.refreshDen);
}

ModeChoice selectMode(const PresenterConfig& wanted, const NvDirectModeMode* modes, size_t count) {
    ModeChoice choice;
    for (size_t i = 0; i < count; ++i) {
        const NvDirectModeMode& m = modes[i];
        const double rate = modeRefreshHz(m);
        // A mode without a rate (denominator 0) is never chosen, whatever rate was asked for.
        if (m.width == wanted.width && m.height == wanted.height && m.format == wanted.linkFormat &&
            m.refreshDen != 0 && std::fabs(rate - wanted.refreshHz) < kRefreshToleranceHz) {
            choice = {true, false, static_cast<uint32_t>(i), rate};  // keep scanning: the last match wins
        }
    }
    if (choice.found) return choice;

    for (size_t i = 0; i < count; ++i) {
        const NvDirectModeMode& m = modes[i];
        if (m.format != wanted.linkFormat || m.refreshDen == 0) continue;
        const double rate = modeRefreshHz(m);
        if (!(rate > 0.0)) continue;
        if (!choice.found || rate > choice.refreshHz) choice = {true, true, static_cast<uint32_t>(i), rate};
    }
    return choice;
}

void reportModeChoice(const PresenterConfig& wanted, const NvDirectModeMode* modes, size_t count,
                      const ModeChoice& choice) {
    for (size_t i = 0; i < count; ++i) {
        const NvDirectModeMode& m = modes[i];
        lines::print(lines::kModeListed, static_cast<unsigned>(i), m.width, m.height, modeRefreshHz(m),
                     static_cast<int>(m.format));
    }
    if (!choice.found) {
        lines::print(lines::kNoModeMatches, wanted.width, wanted.height, wanted.refreshHz,
                     static_cast<int>(wanted.linkFormat));
        return;
    }
    if (choice.fallback) {
        const NvDirectModeMode& m = modes[choice.index];
        lines::print(lines::kModeFallback, wanted.width, wanted.height, wanted.refreshHz, m.width, m.height,
                     choice.refreshHz, static_cast<int>(wanted.linkFormat));
    }
}

void forceCompression(NvDirectModeMode& mode) {
    mode.dscEnable = 1;
    mode.dscVersion = 0x11;
    mode.dscSlices = 4;
    mode.dscBitsPerPixelX16 = 128;
}

}  // namespace corva
