#include "report/metrics.h"

#include "lines/run_figures.h"
#include "report/log_parser.h"

namespace corva::report {
namespace {

std::optional<double> stepMs(double ms) {
    if (ms < 0.0) return std::nullopt;
    return ms;
}

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
        default:
            return phaseMetric(cycle.phases, metric);
    }
    return std::nullopt;
}

std::optional<double> phaseMetric(const WakePhases& p, Metric metric) {
    if (!p.seen) return std::nullopt;
    const double mid = (p.onLoMs + p.onHiMs) / 2.0;
    switch (metric) {
        case Metric::WakeReact:
            return stepMs(p.reactMs);
        case Metric::WakeModeSet:
            return stepMs(p.modeMs);
        case Metric::WakePowerOn:
            return stepMs(p.powerMs);
        case Metric::WakeVblank:
            return stepMs(p.vblankMs);
        case Metric::DisplaysOnMid:
            if (!p.interval) return std::nullopt;
            return mid;
        case Metric::DisplaysOnSpan:
            if (!p.interval) return std::nullopt;
            return p.onHiMs - p.onLoMs;
        case Metric::PanelWake:
            if (!p.interval || p.powerMs < 0.0) return std::nullopt;
            return mid - p.powerMs;
        default:
            return std::nullopt;
    }
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

const char* runEndText(const LoggedRun& run) {
    return run.end == RunEnd::Completed && run.result.displayLost ? "display lost" : runEndName(run.end);
}

int runExitCode(const LoggedRun& run) {
    switch (run.end) {
        case RunEnd::Completed:
            return run.result.displayLost ? run::kExitDisplayLost : run::kExitOk;
        case RunEnd::InitFailed:
            return run::kExitInitFailed;
        case RunEnd::LogCut:
            break;
    }
    return -1;
}

}  // namespace corva::report
