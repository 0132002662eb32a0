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
};

struct MetricInfo {
    Metric metric;
    CycleField field;   // its CSV and JSON name
    const char* label;  // summary and plot text
    const char* key() const { return fieldName(field); }
};

// In the order of their fields in the cycle list.
constexpr std::array<MetricInfo, 4> kMetrics{{
    {Metric::WakeLatency, CycleField::WakeLatencyMs, "wake latency"},
    {Metric::Park, CycleField::ParkMs, "park"},
    {Metric::Doze, CycleField::DozeMs, "doze"},
    {Metric::DisplaysOff, CycleField::DisplaysOffMs, "displays off"},
}};

// The cycle's value in milliseconds, when the log has it.
std::optional<double> cycleMetric(const LoggedRun& run, const Cycle& cycle, Metric metric);

std::vector<double> runMetric(const LoggedRun& run, Metric metric);
std::vector<double> runsMetric(const std::vector<const LoggedRun*>& runs, Metric metric);

// The exit code the program returned, when the log shows it; -1 when it does not.
int runExitCode(const LoggedRun& run);

}  // namespace corva::report
