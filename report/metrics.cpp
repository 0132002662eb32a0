#include "report/metrics.h"

namespace corva::report {
namespace {

std::optional<double> between(int64_t from, int64_t to) {
    if (from == kNoTime || to == kNoTime || to < from) return std::nullopt;
    return static_cast<double>(to - from);
}

}  // namespace

std::optional<double> cycleMetric(const LoggedRun& run, const Cycle& cycle, Metric metric) {
    switch (metric) {
        case Metric::WakeLatency:
            if (cycle.wakeLatencyMs < 0.0) return std::nullopt;
            return cycle.wakeLatencyMs;
        case Metric::Park:
        case Metric::Doze:
            // A step printed only after the run ended did not happen when it says.
            if (cycle.downDoneAfterEnd) return std::nullopt;
            if (run.mode != (metric == Metric::Park ? RunMode::Cycle : RunMode::Doze)) return std::nullopt;
            return between(cycle.downRequestMs, cycle.downDoneMs);
        case Metric::DisplaysOff:
            return between(cycle.downRequestMs, cycle.displaysOffMs);
    }
    return std::nullopt;
}

std::vector<double> runMetric(const LoggedRun& run, Metric metric) {
    std::vector<double> values;
    for (const Cycle& c : run.cycles)
        if (const auto v = cycleMetric(run, c, metric)) values.push_back(*v);
    return values;
}

std::vector<double> runsMetric(const std::vector<const LoggedRun*>& runs, Metric metric) {
    std::vector<double> values;
    for (const LoggedRun* run : runs) {
        const std::vector<double> more = runMetric(*run, metric);
        values.insert(values.end(), more.begin(), more.end());
    }
    return values;
}

int runExitCode(const LoggedRun& run) {
    switch (run.end) {
        case RunEnd::Completed:
            return run.result.displayLost ? 4 : 0;
        case RunEnd::InitFailed:
            return 3;
        case RunEnd::LogCut:
            break;
    }
    return -1;
}

}  // namespace corva::report
