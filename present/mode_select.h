// Choosing the headset mode from the driver's list: exact match, else the fastest mode of
// the requested link format, else refusal. Pure code: the caller supplies the list and the
// streams the report goes to.
#pragma once

#include "nvapi/nvapi.h"
#include "present/present_backend.h"

#include <cstddef>
#include <cstdint>

namespace corva {

// A rate matches the requested one when it is closer than this.
constexpr double kRefreshToleranceHz = 0.5;

struct ModeChoice {
    bool found = false;
    bool fallback = false;  // no exact match: the fastest mode of the requested link format
    uint32_t index = 0;     // into the driver's list
    double refreshHz = 0.0;
};

// refreshNum / refreshDen in double precision; 0.0 when the denominator is 0.
double modeRefreshHz(const NvDirectModeMode& mode);

// Exact match on size, link format and rate (the last of several matches wins); otherwise
// the highest-rate mode of the link format whatever its size (the earliest among equal
// rates); otherwise nothing.
ModeChoice selectMode(const PresenterConfig& wanted, const NvDirectModeMode* modes, size_t count);

// Prints the mode list, then the fallback line or (on standard error) the refusal line, as
// the choice requires.
void reportModeChoice(const PresenterConfig& wanted, const NvDirectModeMode* modes, size_t count,
                      const ModeChoice& choice);

// The headset's link needs display stream compression 1.1, 4 slices, 8 bits per pixel,
// whatever the driver's record says; no other field changes.
void forceCompression(NvDirectModeMode& mode);

}  // namespace corva
