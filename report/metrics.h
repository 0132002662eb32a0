// The durations the report summarises, taken from the cycles of runs.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "report/log_model.h"
#include "report/output_schema.h"

namespace corva::report {

enum class Metric {
    WakeLatency,  // the printed WARM_WAKE_LATENCY
    Park,         // PARK_REQUEST to PARK_DONE
    Doze,         // DOZE_SLEEP_REQUEST to DOZE_ASLEEP
    DisplaysOff,  // the park or doze request to the change that clears disp
    // The wake's phases (WAKE_PHASES), from the wake request.
    WakeReact,       // the wake acted on
    WakeModeSet,     // mode set (park wakes)
    WakePowerOn,     // power-on call / doze wake command returned
    WakeVblank,      // first vertical blank after power-on (park wakes)
    DisplaysOnMid,   // midpoint of the displays-on interval
    DisplaysOnSpan,  // width of that interval: how sure the midpoint is
    PanelWake,       // the panel's own phase: power-on to the displays-on midpoint
};

struct MetricInfo {
    Metric metric;
    CycleField field;   // its CSV and JSON name
    const char* label;  // summary and plot text
    const char* key() const { return fieldName(field); }
};

// In the order of their fields in the cycle list.
constexpr std::array<MetricInfo, 11> kMetrics{{
    {Metric::WakeLatency, CycleField::WakeLatencyMs, "wake latency"},
    {Metric::Park, CycleField::ParkMs, "park"},
    {Metric::Doze, CycleField::DozeMs, "doze"},
    {Metric::DisplaysOff, CycleField::DisplaysOffMs, "displays off"},
    {Metric::WakeReact, CycleField::WakeReactMs, "wake: reaction"},
    {Metric::WakeModeSet, CycleField::WakeModeSetMs, "wake: mode set"},
    {Metric::WakePowerOn, CycleField::WakePowerOnMs, "wake: power on"},
    {Metric::WakeVblank, CycleField::WakeFirstVblankMs, "wake: first vblank"},
    {Metric::DisplaysOnMid, CycleField::DisplaysOnMidMs, "wake: displays on"},
    {Metric::DisplaysOnSpan, CycleField::DisplaysOnWidthMs, "  (interval width)"},
    {Metric::PanelWake, CycleField::PanelWakeMs, "panel: power->on"},
}};

// The cycle's value in milliseconds, when the log has it.
std::optional<double> cycleMetric(const LoggedRun& run, const Cycle& cycle, Metric metric);

// The wake-phase metrics of one WAKE_PHASES line.
std::optional<double> phaseMetric(const WakePhases& phases, Metric metric);

std::vector<double> runMetric(const LoggedRun& run, Metric metric);
std::vector<double> runsMetric(const std::vector<const LoggedRun*>& runs, Metric metric);

// The exit code the program returned, when the log shows it; -1 when it does not.
int runExitCode(const LoggedRun& run);

// How the run ended, as a reader says it: a completed run whose display was lost (exit 4)
// ended with the display lost.
const char* runEndText(const LoggedRun& run);

}  // namespace corva::report
