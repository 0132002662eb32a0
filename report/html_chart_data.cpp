// The chosen run's wake phases per cycle and the distributions over all runs, for the page.
#include <cmath>

#include "report/html_data.h"
#include "report/log_parser.h"
#include "report/metrics.h"
#include "report/stats.h"

namespace corva::report {

using nlohmann::ordered_json;

double htmlMs(double ms) {
    return std::round(ms * 1000.0) / 1000.0;
}

namespace {

ordered_json orNull(const std::optional<double>& value) {
    return value ? ordered_json(htmlMs(*value)) : ordered_json(nullptr);
}

}  // namespace

// One entry per cycle; a phase the wake did not take (or a cycle without WAKE_PHASES) is null.
ordered_json cyclePhasesData(const LoggedRun& run) {
    ordered_json cycles = ordered_json::array();
    for (const Cycle& c : run.cycles) {
        const WakePhases& p = c.phases;
        const bool interval = p.seen && p.interval;
        cycles.push_back({{"cycle", c.number},
                          {"outcome", outcomeName(c.outcome)},
                          {"latency", orNull(cycleMetric(run, c, Metric::WakeLatency))},
                          {"react", orNull(phaseMetric(p, Metric::WakeReact))},
                          {"mode", orNull(phaseMetric(p, Metric::WakeModeSet))},
                          {"power", orNull(phaseMetric(p, Metric::WakePowerOn))},
                          {"vblank", orNull(phaseMetric(p, Metric::WakeVblank))},
                          {"on_mid", orNull(phaseMetric(p, Metric::DisplaysOnMid))},
                          {"on_lo", interval ? ordered_json(p.onLoMs) : ordered_json(nullptr)},
                          {"on_hi", interval ? ordered_json(p.onHiMs) : ordered_json(nullptr)}});
    }
    return cycles;
}

// The durations a distribution is drawn for, with the figures the tables show.
ordered_json distributionsData(const std::vector<const LoggedRun*>& runs) {
    ordered_json out = ordered_json::array();
    for (const MetricInfo& info : kMetrics) {
        const Metric m = info.metric;
        if (m != Metric::WakeLatency && m != Metric::Park && m != Metric::Doze && m != Metric::DisplaysOff)
            continue;
        std::vector<double> values = runsMetric(runs, m);
        if (values.empty()) continue;
        const Summary s = summarise(values);
        ordered_json list = ordered_json::array();
        for (double v : values) list.push_back(htmlMs(v));
        out.push_back({{"key", info.key()},
                       {"label", info.label},
                       {"median", htmlMs(s.median)},
                       {"p95", htmlMs(s.p95)},
                       {"values", std::move(list)}});
    }
    return out;
}

}  // namespace corva::report
