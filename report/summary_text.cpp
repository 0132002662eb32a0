#include "report/summary_text.h"

#include <cstdarg>
#include <cstdio>
#include <map>

#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/report_text.h"
#include "report/metrics.h"

namespace corva::report {
namespace {

void add(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendFormatV(out, format, args);
    va_end(args);
}

const char* outcomeReason(CycleOutcome outcome) {
    switch (outcome) {
        case CycleOutcome::NoTelemetry:
            return "no proximity link, so no display status to time";
        case CycleOutcome::Abandoned:
            return "the benchmark abandoned the cycle";
        case CycleOutcome::Discarded:
            return "the program discarded the latency (telemetry paused or lost)";
        case CycleOutcome::Interrupted:
            return "the run ended before the displays came back on";
        case CycleOutcome::LogCut:
            return "the log ends in the middle of the cycle";
        case CycleOutcome::LatencyMissing:
            return "no latency line although the run went on";
        case CycleOutcome::Measured:
            break;
    }
    return "";
}

void metricTable(std::string& out, const std::vector<const LoggedRun*>& runs, const char* indent) {
    add(out, "%s%-20s %5s %8s %8s %8s %8s %8s %8s\n", indent, "duration (ms)", "n", "min", "median", "mean",
        "p95", "max", "stddev");
    bool any = false;
    for (const MetricInfo& m : kMetrics) {
        const Summary s = summarise(runsMetric(runs, m.metric));
        if (s.n == 0) continue;
        any = true;
        add(out, "%s%-20s %5zu %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f\n", indent, m.label, s.n, s.min, s.median,
            s.mean, s.p95, s.max, s.stddev);
    }
    if (!any) add(out, "%s(no durations: no benchmark cycle reached a measured step)\n", indent);
}

void missingLatencies(std::string& out, const std::vector<const LoggedRun*>& runs, const char* indent) {
    std::map<CycleOutcome, size_t> counts;
    size_t cycles = 0;
    for (const LoggedRun* run : runs) {
        for (const Cycle& c : run->cycles) {
            ++cycles;
            if (c.outcome != CycleOutcome::Measured) ++counts[c.outcome];
        }
    }
    if (cycles == 0) return;
    size_t missing = 0;
    for (const auto& [outcome, n] : counts) missing += n;
    add(out, "%scycles: %zu, with a wake latency: %zu, without: %zu\n", indent, cycles, cycles - missing,
        missing);
    for (const auto& [outcome, n] : counts)
        add(out, "%s  %zu %s: %s\n", indent, n, outcomeName(outcome), outcomeReason(outcome));
}

std::string settingsText(const LoggedRun& run) {
    std::string out;
    if (run.cycleCount > 0) add(out, "%zu of %d cycles started", run.cycles.size(), run.cycleCount);
    if (run.activeSeconds >= 0) add(out, "%sactive ~%.2f s", out.empty() ? "" : ", ", run.activeSeconds);
    if (run.holdSeconds >= 0) add(out, "%shold ~%.2f s", out.empty() ? "" : ", ", run.holdSeconds);
    if (run.activeSeconds >= 0 || run.holdSeconds >= 0) out += " (inferred from the markers)";
    return out;
}

void runBlock(std::string& out, const LoggedRun& run, size_t index) {
    const int exitCode = runExitCode(run);
    add(out, "Run %zu: %s lines %zu-%zu: %s%s, %s", index, run.source.c_str(), run.firstLine, run.lastLine,
        run.mode == RunMode::Unknown ? "run of a mode the log does not show" : modeName(run.mode),
        run.mode == RunMode::Unknown ? "" : " run", runEndText(run));
    if (exitCode >= 0) add(out, " (exit code %d)", exitCode);
    if (run.end == RunEnd::LogCut) out += " -- the log stops before the run's result line";
    out += "\n";
    if (const std::string settings = settingsText(run); !settings.empty())
        add(out, "  settings: %s\n", settings.c_str());
    add(out, "  proximity link: %s\n", proximityLinkText(run).c_str());
    if (!run.driverVersion.empty() || !run.modeText.empty())
        add(out, "  driver %s; mode %s\n",
            run.driverVersion.empty() ? "not shown" : run.driverVersion.c_str(),
            run.modeText.empty() ? "not chosen" : run.modeText.c_str());
    if (run.initStartMs != kNoTime && run.initDoneMs != kNoTime)
        add(out, "  bring-up: %lld ms (INIT_START %s to INIT_DONE)\n",
            static_cast<long long>(run.initDoneMs - run.initStartMs), formatClock(run.initStartMs).c_str());
    if (run.result.seen) {
        add(out, "  frames %llu, presentErrors %llu, freeRunEvents %llu, displayLost %d",
            static_cast<unsigned long long>(run.result.frames),
            static_cast<unsigned long long>(run.result.presentErrors),
            static_cast<unsigned long long>(run.result.freeRunEvents), run.result.displayLost ? 1 : 0);
        if (run.result.presentSeen)
            add(out, "; %.2f fps average over %.1f s, waitTimeouts %llu", run.result.averageFps,
                run.result.seconds, static_cast<unsigned long long>(run.result.waitTimeouts));
        out += "\n";
    }
    if (!run.status.empty()) {
        std::vector<double> fps;
        for (const StatusSample& s : run.status)
            if (!s.partial) fps.push_back(s.fps);
        const size_t partial = run.status.size() - fps.size();
        add(out, "  status lines: %zu", run.status.size());
        if (partial > 0) add(out, " (%zu after BENCH_END: part of a second, no frame rate)", partial);
        if (!fps.empty()) {
            const Summary s = summarise(fps);
            add(out, ", fps min %.1f median %.1f max %.1f", s.min, s.median, s.max);
        }
        out += "\n";
    }
    if (!run.freeRuns.empty()) {
        int64_t total = 0;
        for (const FreeRunPeriod& p : run.freeRuns) {
            const int64_t end = p.endMs == kNoTime ? run.lastMs : p.endMs;
            total += end - p.startMs;
        }
        add(out, "  free-run: %zu period(s), about %.1f s in all (vsync lost)\n", run.freeRuns.size(),
            static_cast<double>(total) / 1000.0);
    }
    if (!run.failures.empty()) {
        std::map<std::string, size_t> kinds;
        for (const Failure& f : run.failures) ++kinds[failureKindName(f.kind)];
        out += "  failure lines:";
        for (const auto& [kind, n] : kinds) add(out, " %zu %s", n, kind.c_str());
        out += "\n";
        size_t shown = 0;
        for (const Failure& f : run.failures) {
            if (shown++ == 3) {
                add(out, "    ... %zu more\n", run.failures.size() - 3);
                break;
            }
            add(out, "    line %zu: %.100s\n", f.line, f.text.c_str());
        }
    }
    size_t late = 0;
    for (const Cycle& c : run.cycles) late += c.downDoneAfterEnd;
    if (late > 0)
        add(out, "  %zu PARK_DONE/DOZE_ASLEEP printed only after BENCH_END: not counted as durations\n",
            late);
    if (run.endedEarly) add(out, "  the program says: BENCH_INCOMPLETE: %.200s\n", run.endNote.c_str());
    if (run.orphanLatencies > 0)
        add(out, "  %zu latency line(s) with no wake request before them\n", run.orphanLatencies);
    const std::vector<const LoggedRun*> one{&run};
    metricTable(out, one, "  ");
    missingLatencies(out, one, "  ");
    if (run.unrecognised > 0) add(out, "  unrecognised lines: %zu\n", run.unrecognised);
}

}  // namespace

std::vector<const LoggedRun*> allRuns(const std::vector<ParsedLog>& logs) {
    std::vector<const LoggedRun*> runs;
    for (const ParsedLog& log : logs)
        for (const LoggedRun& run : log.runs) runs.push_back(&run);
    return runs;
}

std::string proximityLinkText(const LoggedRun& run) {
    std::string out = !run.proxSeen ? "not shown" : run.proxUp ? "up" : "unavailable";
    if (!run.firmware.empty())
        add(out, ", firmware %s (%s)", run.firmware.c_str(), run.dozeCapable ? "doze capable" : "no doze");
    add(out, "; bypass %s", !run.bypassOn ? "off" : run.bypassConfirmed ? "on" : "on (not confirmed)");
    if (run.bypassOn)
        add(out, ", restored: %s",
            run.bypassRestored == 1   ? "ok"
            : run.bypassRestored == 0 ? "FAILED"
            : run.bypassRestored == 2 ? "not confirmed"
                                      : "not shown");
    return out;
}

std::string summaryText(const std::vector<ParsedLog>& logs) {
    std::string out;
    size_t index = 0;
    size_t lines = 0;
    size_t unrecognised = 0;
    for (const ParsedLog& log : logs) {
        lines += log.lines;
        unrecognised += log.unrecognised;
        for (const LoggedRun& run : log.runs) {
            runBlock(out, run, ++index);
            out += "\n";
        }
    }
    const std::vector<const LoggedRun*> runs = allRuns(logs);
    add(out, "All runs: %zu run(s) in %zu log(s), %zu lines\n", runs.size(), logs.size(), lines);
    size_t incomplete = 0;
    for (const LoggedRun* run : runs) incomplete += run->end == RunEnd::LogCut;
    if (incomplete > 0) add(out, "  incomplete (log cut short): %zu run(s)\n", incomplete);
    // With one run its own block above already has the table and the cycles without latency.
    if (runs.size() != 1) {
        metricTable(out, runs, "  ");
        missingLatencies(out, runs, "  ");
    }
    add(out, "  unrecognised lines: %zu\n", unrecognised);
    for (const ParsedLog& log : logs)
        for (const std::string& sample : log.unrecognisedSamples)
            add(out, "    %s:%.140s\n", log.source.c_str(), sample.c_str());
    return out;
}

std::string comparisonText(const std::vector<ParsedLog>& a, const std::vector<ParsedLog>& b) {
    std::string out;
    const std::vector<const LoggedRun*> runsA = allRuns(a);
    const std::vector<const LoggedRun*> runsB = allRuns(b);
    add(out, "Comparison: A = %zu run(s) in %zu log(s), B = %zu run(s) in %zu log(s)\n", runsA.size(),
        a.size(), runsB.size(), b.size());
    add(out, "Difference of medians B - A, 95%% bootstrap interval (%d resamples, fixed seed)\n",
        kBootstrapRounds);
    bool any = false;
    for (const MetricInfo& m : kMetrics) {
        const Comparison c = compareMedians(runsMetric(runsA, m.metric), runsMetric(runsB, m.metric));
        if (c.nA == 0 || c.nB == 0) continue;
        any = true;
        add(out, "  %-13s A: n=%zu median %.1f ms | B: n=%zu median %.1f ms | B-A %+.1f ms [%+.1f, %+.1f]: ",
            m.label, c.nA, c.medianA, c.nB, c.medianB, c.difference, c.low, c.high);
        if (!c.enough) {
            add(out, "too few cycles to judge (need %zu on each side)\n", kMinPerSide);
        } else if (c.significant) {
            add(out, "SIGNIFICANT, B is %s\n", c.difference > 0 ? "slower" : "faster");
        } else {
            out += "not significant\n";
        }
    }
    if (!any) out += "  nothing to compare: one side has no measured durations\n";
    return out;
}

}  // namespace corva::report
