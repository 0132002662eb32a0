// The benchmark driver: parks or dozes the displays and wakes them, cycle by cycle,
// marking every step.
#pragma once

#include "present/park_control.h"
#include "prox/mcu_prox.h"

#include <cstdint>

namespace corva {

// Waits `seconds` or until StopFlag is raised, whichever comes first.
void timedWait(double seconds);

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds);

}  // namespace corva
