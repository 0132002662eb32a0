#include "report/json_output.h"

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/metrics.h"
#include "report/stats.h"
#include "report/summary_text.h"

namespace corva::report {
namespace {

using nlohmann::ordered_json;

ordered_json timeOf(int64_t ms) {
    return ms == kNoTime ? ordered_json(nullptr) : ordered_json(formatClock(ms));
}

ordered_json optional(const std::optional<double>& value) {
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json seconds(double value) {
    return value < 0 ? ordered_json(nullptr) : ordered_json(value);
}

// Three decimals: the log's own resolution is a tenth of a millisecond at best.
double rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

ordered_json metricsOf(const std::vector<const LoggedRun*>& runs) {
    ordered_json out = ordered_json::object();
    for (const MetricInfo& m : kMetrics) {
        const Summary s = summarise(runsMetric(runs, m.metric));
        if (s.n == 0) continue;
        out[m.key()] = {{"n", s.n},
                        {"min", rounded(s.min)},
                        {"median", rounded(s.median)},
                        {"mean", rounded(s.mean)},
                        {"p95", rounded(s.p95)},
                        {"max", rounded(s.max)},
                        {"stddev", rounded(s.stddev)}};
    }
    return out;
}

ordered_json withoutLatency(const std::vector<const LoggedRun*>& runs) {
    std::map<std::string, size_t> counts;
    for (const LoggedRun* run : runs)
        for (const Cycle& c : run->cycles)
            if (c.outcome != CycleOutcome::Measured) ++counts[outcomeName(c.outcome)];
    ordered_json out = ordered_json::object();
    for (const auto& [name, n] : counts) out[name] = n;
    return out;
}

ordered_json cycleJson(const LoggedRun& run, const Cycle& c) {
    ordered_json j = ordered_json::object();
    j[fieldName(CycleField::Cycle)] = c.number;
    j[fieldName(CycleField::Cycles)] = c.total;
    j[fieldName(CycleField::Outcome)] = outcomeName(c.outcome);
    j[fieldName(CycleField::CycleLine)] = c.line;
    j[fieldName(CycleField::DownRequestTime)] = timeOf(c.downRequestMs);
    j[fieldName(CycleField::DownDoneTime)] = timeOf(c.downDoneMs);
    j[fieldName(CycleField::DisplaysOffTime)] = timeOf(c.displaysOffMs);
    j[fieldName(CycleField::WakeRequestTime)] = timeOf(c.wakeRequestMs);
    j[fieldName(CycleField::DisplaysOnTime)] = timeOf(c.displaysOnMs);
    for (const MetricInfo& m : kMetrics) j[m.key()] = optional(cycleMetric(run, c, m.metric));
    const bool interval = c.phases.seen && c.phases.interval;
    j[fieldName(CycleField::DisplaysOnLoMs)] =
        interval ? ordered_json(c.phases.onLoMs) : ordered_json(nullptr);
    j[fieldName(CycleField::DisplaysOnHiMs)] =
        interval ? ordered_json(c.phases.onHiMs) : ordered_json(nullptr);
    // Marked when its wake figures rest on a failed condition: then kept out of the statistics
    // unless asked for.
    ordered_json failed = ordered_json::array();
    for (size_t at = 0; at < c.failedConditions.size();) {
        const size_t comma = c.failedConditions.find(", ", at);
        failed.push_back(
            c.failedConditions.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? c.failedConditions.size() : comma + 2;
    }
    j[fieldName(CycleField::FailedConditions)] = std::move(failed);
    j[fieldName(CycleField::InStatistics)] = !c.keptOut;
    if (!c.note.empty()) j[fieldName(CycleField::Note)] = c.note;
    return j;
}

ordered_json runJson(const LoggedRun& run) {
    ordered_json j = {
        {fieldName(CycleField::Source), run.source},
        {"lines", {run.firstLine, run.lastLine}},
        {fieldName(CycleField::Mode), modeName(run.mode)},
        {"end", runEndName(run.end)},
        {"exit_code", runExitCode(run) < 0 ? ordered_json(nullptr) : ordered_json(runExitCode(run))}};
    j["settings"] = {{"cycles", run.cycleCount},
                     {"active_seconds_inferred", seconds(run.activeSeconds)},
                     {"hold_seconds_inferred", seconds(run.holdSeconds)}};
    j["proximity"] = {{"shown", run.proxSeen},
                      {"up", run.proxUp},
                      {"firmware", run.firmware},
                      {"doze_capable", run.dozeCapable},
                      {"bypass_on", run.bypassOn},
                      {"bypass_restored", run.bypassRestored < 0 ? ordered_json(nullptr)
                                                                 : ordered_json(run.bypassRestored == 1)}};
    j["driver"] = run.driverVersion;
    j["display_mode"] = run.modeText;
    j["init_start"] = timeOf(run.initStartMs);
    j["init_done"] = timeOf(run.initDoneMs);
    j["bench_end"] = timeOf(run.benchEndMs);
    if (run.result.seen) {
        j["result"] = {{"frames", run.result.frames},
                       {"present_errors", run.result.presentErrors},
                       {"free_run_events", run.result.freeRunEvents},
                       {"display_lost", run.result.displayLost}};
        if (run.result.presentSeen) {
            j["result"]["seconds"] = run.result.seconds;
            j["result"]["average_fps"] = run.result.averageFps;
            j["result"]["wait_timeouts"] = run.result.waitTimeouts;
        }
    }
    // One entry per condition the run's figures rested on (none in logs from before they were
    // printed).
    ordered_json conditions = ordered_json::array();
    for (const RunCondition& c : run.conditions)
        conditions.push_back(
            {{"name", c.name}, {"figure", c.figures}, {"limit", c.limit}, {"verdict", c.verdict}});
    j["conditions"] = std::move(conditions);
    ordered_json cycles = ordered_json::array();
    for (const Cycle& c : run.cycles) cycles.push_back(cycleJson(run, c));
    j["cycles"] = std::move(cycles);
    const std::vector<const LoggedRun*> one{&run};
    j["durations_ms"] = metricsOf(one);
    j["cycles_without_latency"] = withoutLatency(one);
    ordered_json fps = ordered_json::array();
    for (const StatusSample& s : run.status)
        fps.push_back({{"time", formatClock(s.ms)},
                       {"fps", s.fps},
                       {"dstat", s.dstat},
                       {"free_run", s.freeRun},
                       {"partial", s.partial}});
    j["status"] = std::move(fps);
    ordered_json free = ordered_json::array();
    for (const FreeRunPeriod& p : run.freeRuns)
        free.push_back({{"start", timeOf(p.startMs)}, {"end", timeOf(p.endMs)}});
    j["free_runs"] = std::move(free);
    ordered_json failures = ordered_json::array();
    for (const Failure& f : run.failures) {
        ordered_json fj = {{"kind", failureKindName(f.kind)}, {"line", f.line}, {"text", f.text}};
        if (!f.call.empty()) fj["call"] = f.call;
        if (f.status != 0) fj["status"] = f.status;
        if (f.sourceLine >= 0) fj["call_site"] = f.sourceLine;
        failures.push_back(std::move(fj));
    }
    j["failures"] = std::move(failures);
    j["orphan_latencies"] = run.orphanLatencies;
    j["unrecognised_lines"] = run.unrecognised;
    return j;
}

}  // namespace

std::string reportJson(const std::vector<ParsedLog>& logs) {
    ordered_json root;
    root["logs"] = ordered_json::array();
    for (const ParsedLog& log : logs) {
        ordered_json lj = {{"source", log.source},
                           {"encoding", log.encoding},
                           {"lines", log.lines},
                           {"unrecognised_lines", log.unrecognised},
                           {"unrecognised_samples", log.unrecognisedSamples}};
        ordered_json runs = ordered_json::array();
        for (const LoggedRun& run : log.runs) runs.push_back(runJson(run));
        lj["runs"] = std::move(runs);
        root["logs"].push_back(std::move(lj));
    }
    const std::vector<const LoggedRun*> runs = allRuns(logs);
    root["all_runs"] = {{"runs", runs.size()},
                        {"durations_ms", metricsOf(runs)},
                        {"cycles_without_latency", withoutLatency(runs)}};
    // Lines in a legacy code page are not UTF-8: replaced rather than refused.
    return root.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace corva::report
