// The benchmark on the real clock, the proximity link and the process-wide run state.
#pragma once

#include "present/park_control.h"
#include "prox/mcu_prox.h"

#include <cstdint>

namespace corva {

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds);

}  // namespace corva
