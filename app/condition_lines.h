// The lines that say what the run's figures rested on: one per timed wake whose conditions
// failed around it (after its WAKE_PHASES line), and one per group at the end of the run.
#pragma once

#include "app/run_conditions.h"

namespace corva {

// A WAKE_CONDITION line for each of the wake's conditions that failed; none when all held.
void printWakeConditions(const WakeConditions& wake);

struct RunConditionInputs {
    const PollGaps* monitorPolls = nullptr;
    const PresentConditions* present = nullptr;         // null: the present loop never ran
    const prox::TelemetryFigures* telemetry = nullptr;  // null: no proximity link
    platform::MachineFigures machine;
};

// One RUN_CONDITION line per group: its figures, its verdict and the limit it was judged by.
void printRunConditions(const RunConditionInputs& inputs);

}  // namespace corva
