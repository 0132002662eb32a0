#include "report/log_parser.h"

#include <algorithm>
#include <optional>

#include "lines/line_classify.h"
#include "report/log_text.h"
#include "report/run_builder.h"

namespace corva::report {
namespace {

constexpr size_t kUnrecognisedSamples = 5;

class LogParser {
  public:
    explicit LogParser(std::string_view source) { log_.source = source; }

    void line(std::string_view text, size_t number) {
        ++log_.lines;
        if (isBlank(text)) return;
        // Steps of the start sequence come in the order the program prints them; a step that
        // does not come after the run's furthest step so far begins the next run.
        const lines::ScannedLine scanned = lines::classify(text);
        const int step = lines::startStepOf(scanned);
        if (step > 0 && (!run_ || run_->furthestStep() >= step)) begin(number);
        if (isSimulatorLine(text)) {
            log_.isLog = true;
            return;
        }
        if (!run_) {
            // A log whose head is missing still has runs: the first line of one begins it.
            RunBuilder probe(log_.source, number);
            if (probe.feed(scanned, number, step)) {
                run_.emplace(std::move(probe));
                log_.isLog = true;
                return;
            }
        } else if (run_->feed(scanned, number, step)) {
            log_.isLog = true;
            return;
        }
        ++log_.unrecognised;
        if (run_) run_->countUnrecognised();
        if (log_.unrecognisedSamples.size() < kUnrecognisedSamples)
            log_.unrecognisedSamples.push_back(std::to_string(number) + ": " +
                                               std::string(text.substr(0, 120)));
    }

    ParsedLog finish() {
        if (run_) keep(run_->finish());
        run_.reset();
        return std::move(log_);
    }

  private:
    static bool isBlank(std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
    }

    void begin(size_t number) {
        if (run_) keep(run_->finish());
        run_.emplace(log_.source, number);
    }

    // Standard error saved after standard output reads as a run without anything of the
    // start sequence on standard output (the MCU's telemetry line, the proximity state, a
    // time stamp): failures, free-run warnings, the MCU's losses. Those belong to the run before.
    void keep(LoggedRun run) {
        const bool onlyErrors = !run.proxSeen && run.firmware.empty() && run.firstMs == kNoTime &&
                                run.cycles.empty() && !run.result.seen && !run.result.presentSeen;
        if (!onlyErrors || log_.runs.empty()) {
            log_.runs.push_back(std::move(run));
            return;
        }
        LoggedRun& into = log_.runs.back();
        for (Event e : run.events) {
            if (e.kind == EventKind::Failure) e.value += static_cast<double>(into.failures.size());
            e.ms = into.lastMs;
            into.events.push_back(std::move(e));
        }
        for (Failure& f : run.failures) {
            f.ms = into.lastMs;
            into.failures.push_back(std::move(f));
        }
        into.lines += run.lines;
        into.unrecognised += run.unrecognised;
        into.otherRecognised += run.otherRecognised;
        into.newerMarkers += run.newerMarkers;
        into.lastLine = run.lastLine;
        into.appendedErrors = true;
        into.end = runEndOf(into);
    }

    // The simulated headset's own complaints (a bad scenario) come before any run.
    static bool isSimulatorLine(std::string_view text) { return lines::classifySimulator(text) != nullptr; }

    ParsedLog log_;
    std::optional<RunBuilder> run_;
};

}  // namespace

ParsedLog parseLog(std::string_view bytes, std::string_view source) {
    const LogText text = decodeLogBytes(bytes);
    LogParser parser(source);
    if (!text.binary) forEachLine(text.text, [&](std::string_view line, size_t n) { parser.line(line, n); });
    ParsedLog log = parser.finish();
    log.encoding = text.binary ? "binary" : text.encoding;
    if (text.binary) log.isLog = false;
    return log;
}

const char* modeName(RunMode mode) {
    switch (mode) {
        case RunMode::Plain:
            return "plain";
        case RunMode::Cycle:
            return "cycle";
        case RunMode::Doze:
            return "doze";
        case RunMode::Benchmark:
            return "benchmark";
        case RunMode::Unknown:
            break;
    }
    return "unknown";
}

const char* outcomeName(CycleOutcome outcome) {
    switch (outcome) {
        case CycleOutcome::Measured:
            return "measured";
        case CycleOutcome::NoTelemetry:
            return "no-telemetry";
        case CycleOutcome::Abandoned:
            return "abandoned";
        case CycleOutcome::Discarded:
            return "discarded";
        case CycleOutcome::Interrupted:
            return "interrupted";
        case CycleOutcome::LogCut:
            return "log-cut";
        case CycleOutcome::LatencyMissing:
            return "latency-missing";
    }
    return "?";
}

const char* runEndName(RunEnd end) {
    switch (end) {
        case RunEnd::Completed:
            return "completed";
        case RunEnd::InitFailed:
            return "init-failed";
        case RunEnd::LogCut:
            return "incomplete";
    }
    return "?";
}

}  // namespace corva::report
