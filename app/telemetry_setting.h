// The telemetry interval asked of the microcontroller: 50 ms, or TESSARAY_TELEMETRY_MS.
#pragma once

#include <cstdint>

namespace corva {

constexpr uint16_t kDefaultTelemetryMs = 50;

// `text` is the variable's value (null: unset). A whole number of ms from 1 to 50 is taken;
// unset gives the default; anything else gives the default and false (say so).
bool telemetryIntervalFrom(const char* text, uint16_t& ms);

}  // namespace corva
