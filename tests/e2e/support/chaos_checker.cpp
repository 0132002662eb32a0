#include "tests/e2e/support/chaos_checker.h"

#include "lines/run_figures.h"
#include "report/log_parser.h"
#include "report/metrics.h"

#include <algorithm>
#include <sstream>

namespace corva::test {
namespace {

using report::CycleOutcome;
using report::EventKind;
using report::LoggedRun;

using sim::HeadsetInput;

// Binary rounding of the printed tenths; the program rounds the interval outward itself.
constexpr double kPhaseRoundingMs = 1e-6;

// One telemetry interval and room for a busy machine's scheduling between the first
// report and the monitor's line.
constexpr double kLatencyMarginMs = 50.0 + 30.0;

bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

size_t count(const LoggedRun& run, EventKind kind) {
    size_t n = 0;
    for (const report::Event& e : run.events) n += e.kind == kind;
    return n;
}

// Line index of the last line starting with `prefix`, or -1.
long lastLineOf(const std::string& log, const std::string& prefix) {
    std::istringstream in(log);
    long at = -1, n = 0;
    for (std::string line; std::getline(in, line); ++n)
        if (line.rfind(prefix, 0) == 0) at = n;
    return at;
}

size_t linesStarting(const std::string& log, const std::string& prefix, long after = -1) {
    std::istringstream in(log);
    size_t found = 0;
    long n = 0;
    for (std::string line; std::getline(in, line); ++n) found += n > after && line.rfind(prefix, 0) == 0;
    return found;
}

class Checker {
  public:
    Checker(const ChaosRun& run, const SimProcessResult& result, const ChaosTruth& truth)
        : run_(run), result_(result), read_(truth), truth_(truth.truth), log_(result.out + result.err) {}

    std::vector<std::string> check() {
        if (!result_.started) return {"tessaray-sim did not start"};
        expect(!result_.timedOut, "killed after its time limit");
        expect(result_.exitCode == run::kExitOk || result_.exitCode == run::kExitInitFailed ||
                   result_.exitCode == run::kExitDisplayLost,
               "exit code " + std::to_string(result_.exitCode));
        expect(result_.seconds <= run_.boundSeconds,
               "ran " + std::to_string(result_.seconds) + " s, bound " + std::to_string(run_.boundSeconds));
        expect(read_.read, "no ground truth read: " + read_.error);
        const report::ParsedLog parsed = report::parseLog(log_, "chaos.log");
        expect(parsed.runs.size() == 1, "the report reads " + std::to_string(parsed.runs.size()) + " runs");
        expect(parsed.unrecognised == 0,
               "the report does not recognise " + std::to_string(parsed.unrecognised) +
                   " line(s): " + (parsed.unrecognisedSamples.empty() ? "" : parsed.unrecognisedSamples[0]));
        if (parsed.runs.size() == 1) {
            checkReading(parsed.runs[0]);
            checkRun(parsed.runs[0]);
        }
        return broken_;
    }

  private:
    void expect(bool holds, const std::string& what) {
        if (!holds) broken_.push_back(what);
    }

    bool scenarioHas(const std::string& what) const { return has(run_.scenario, what); }
    bool benchmark() const {
        return !run_.args.empty() && (run_.args[0] == "cycle" || run_.args[0] == "doze");
    }

    void checkRun(const LoggedRun& run) {
        checkEnd(run);
        checkLatencies(run);
        checkMarkers(run);
        checkCycles(run);
        checkBypass(run);
    }

    // The report reads the program's exit code from the log, and every line through the table.
    void checkReading(const LoggedRun& run) {
        expect(result_.timedOut || report::runExitCode(run) == result_.exitCode,
               "the report reads exit " + std::to_string(report::runExitCode(run)));
        expect(run.newerMarkers == 0, "a marker the report does not know");
    }

    // The exit code follows from what happened, and what happened from the scenario.
    void checkEnd(const LoggedRun& run) {
        const int code = result_.exitCode;
        if (code == run::kExitInitFailed) {
            expect(run.end == report::RunEnd::InitFailed, "exit 3 but the log shows no failed bring-up");
            expect(scenarioHas("no-display") || scenarioHas("acquire-fail") || run_.signal != 0,
                   "bring-up failed on a headset that has a display");
            return;
        }
        expect(run.end == report::RunEnd::Completed, "no result line");
        expect(run.result.presentSeen && run.result.countersAgree,
               "the counters line disagrees with PRESENT RESULT");
        expect(code == (run.result.displayLost ? run::kExitDisplayLost : run::kExitOk),
               "exit code does not follow displayLost");
        // Not a lost vertical blank: then every present signals the waitable, and the waits
        // that time out after failed presents (seed 978) say nothing of the display.
        expect(!run.result.displayLost || scenarioHas("device-removed") || scenarioHas("waitable-dead"),
               "display lost without a display fault");
    }

    // Each printed latency is one of the headset's own wakes: no less than until the first
    // report showing it, no more than that plus a margin. The phase line after it
    // puts the displays coming on, by that wake's truth, inside its on=LO..HI.
    void checkLatencies(const LoggedRun& run) {
        expect(run.orphanLatencies == 0, "a wake latency without a wake request");
        const HeadsetInput cause =
            !run_.args.empty() && run_.args[0] == "doze" ? HeadsetInput::Doze : HeadsetInput::PanelPower;
        size_t at = 0;
        for (const report::Cycle& c : run.cycles) {
            if (c.wakeLatencyMs < 0.0) continue;
            const sim::DisplaysTransition* matched = nullptr;
            for (; at < truth_.transitions.size() && matched == nullptr; ++at) {
                const sim::DisplaysTransition& t = truth_.transitions[at];
                if (!t.on || t.cause != cause || t.wakeStampNs == 0 || t.firstReportNs == 0) continue;
                // From the stamp to the first report showing it at least: a wake abandoned
                // after its panels were powered keeps its stamp, and its first report comes
                // only after the outage, so a later wake's latency cannot be mistaken for it.
                if (c.wakeLatencyMs >= double(t.firstReportNs - t.wakeStampNs) / 1e6 - 0.1 &&
                    c.wakeLatencyMs <= double(t.firstReportNs - t.wakeStampNs) / 1e6 + kLatencyMarginMs)
                    matched = &t;
            }
            const std::string which = "cycle " + std::to_string(c.number) + ": ";
            expect(matched != nullptr,
                   which + "latency " + std::to_string(c.wakeLatencyMs) + " ms is no wake of the headset");
            if (matched == nullptr || !c.phases.seen || !c.phases.interval) continue;
            const double onMs = double(matched->visibleNs - matched->wakeStampNs) / 1e6;
            expect(c.phases.onLoMs <= onMs + kPhaseRoundingMs && onMs <= c.phases.onHiMs + kPhaseRoundingMs,
                   which + "WAKE_PHASES on=" + std::to_string(c.phases.onLoMs) + ".." +
                       std::to_string(c.phases.onHiMs) + " does not hold the displays coming on at " +
                       std::to_string(onMs) + " ms");
        }
    }

    // No marker for a step that did not happen.
    void checkMarkers(const LoggedRun& run) {
        expect(count(run, EventKind::ParkDone) <= count(run, EventKind::PanelsOff),
               "PARK_DONE without panels off");
        size_t dozedOff = 0;  // seen off by the telemetry, through a doze
        for (const sim::DisplaysTransition& t : truth_.transitions)
            dozedOff += !t.on && t.cause == HeadsetInput::Doze && t.firstReportNs != 0;
        if (run.proxUp)
            expect(count(run, EventKind::DozeAsleep) <= dozedOff,
                   "DOZE_ASLEEP without the displays seen off");
    }

    // One outcome per cycle, and a cycle without a latency is explained by a line.
    void checkCycles(const LoggedRun& run) {
        if (!benchmark() || run.end != report::RunEnd::Completed) return;
        bool noLinkNote = false;
        for (const report::Event& e : run.events) noLinkNote = noLinkNote || has(e.text, "BENCH_NOTE: ");
        if (!run.proxUp && !run.cycles.empty())
            expect(noLinkNote, "a benchmark without the proximity link does not say it times nothing");
        for (const report::Cycle& c : run.cycles) {
            const std::string which = "cycle " + std::to_string(c.number) + ": ";
            size_t abandoned = 0, latencies = 0;
            for (const report::Event& e : run.events) {
                abandoned += e.kind == EventKind::CycleAbandoned && e.cycle == c.number;
                latencies += e.kind == EventKind::WakeLatency && e.cycle == c.number;
            }
            expect(abandoned + latencies <= 1, which + "more than one outcome");
            switch (c.outcome) {
                case CycleOutcome::Measured:
                case CycleOutcome::Abandoned:
                case CycleOutcome::Discarded:
                case CycleOutcome::NoTelemetry:
                    break;
                case CycleOutcome::Interrupted:
                    expect(run.endedEarly, which + "no latency, and no line says the benchmark ended early");
                    break;
                default:
                    expect(false, which + "no latency and no line saying why (" +
                                      report::outcomeName(c.outcome) + ")");
            }
        }
        if (!run.endedEarly)
            expect(int(run.cycles.size()) == run.cycleCount &&
                       count(run, EventKind::WakeRequest) == run.cycles.size(),
                   "cycles missing without a BENCH_INCOMPLETE line");
    }

    // The restore line tells the microcontroller's truth; its order among the reconnect's
    // bypass lines is the order on the wire.
    void checkBypass(const LoggedRun& run) {
        if (truth_.bypassAtExit < 0) return;  // no microcontroller
        if (run.bypassOn && result_.exitCode != run::kExitInitFailed)
            expect(run.bypassRestored >= 0,
                   "the bypass was switched on and no restore line says what became of it");
        if (run.bypassRestored == 1)
            expect(truth_.bypassAtExit == 0, "'restored: ok' but the bypass is still on");
        if (run.bypassRestored == 0)
            expect(truth_.bypassAtExit == 1, "'restored: FAILED' but the bypass is off");
        // A microcontroller that answered all along (no silence, unplug or replug) and was
        // restored: the log says so. With any of those the program cannot always tell: one
        // silent when the '[' came ignored it and may talk again by the exit, one unplugged
        // at the exit cannot be asked.
        const bool answeredThroughout = !scenarioHas("silence") && !scenarioHas("unplug") &&
                                        !scenarioHas("replug") && !scenarioHas("no-mcu");
        bool connected = run.proxUp;
        for (const report::Event& e : run.events) {
            if (e.kind == EventKind::McuLost) connected = false;
            if (e.kind == EventKind::McuReconnected) connected = true;
        }
        // The verdict is the microcontroller's answer to a command after the '[', read in
        // order, so a loaded machine that reads its reports late does not change it.
        if (run.bypassOn && answeredThroughout && truth_.answeringAtExit == 1 && connected)
            expect(run.bypassRestored == 1,
                   "the microcontroller answered all along, the restore said " +
                       std::string(run.bypassRestored == 0 ? "FAILED" : "not confirmed"));

        const std::string resent = "McuProx: proximity bypass re-sent after reconnect: ok";
        const size_t sentOn = (run.bypassOn ? 1 : 0) + linesStarting(log_, resent);
        std::string wire;  // the accepted ones, in the order received
        for (const sim::BypassCommand& c : truth_.bypassCommands)
            if (c.accepted) wire += c.command;
        const size_t accepted = size_t(std::count(wire.begin(), wire.end(), 'p'));
        expect(sentOn == accepted, "the log says 'p' was sent " + std::to_string(sentOn) +
                                       " time(s), the microcontroller took it " + std::to_string(accepted));
        if (!run_.mergeErrors || wire.find('[') == std::string::npos) return;
        const size_t afterOff = wire.size() - wire.rfind('[') - 1;
        expect(linesStarting(log_, resent, lastLineOf(log_, "prox bypass restored: ")) == afterOff,
               "reconnect and restore lines in another order than on the wire (" + wire + ")");
    }

    const ChaosRun& run_;
    const SimProcessResult& result_;
    const ChaosTruth& read_;
    const sim::GroundTruth& truth_;
    const std::string log_;
    std::vector<std::string> broken_;
};

}  // namespace

ChaosTruth readChaosTruth(const std::string& file) {
    ChaosTruth truth;
    truth.read = sim::readGroundTruthFile(file, truth.truth, truth.error);
    return truth;
}

std::vector<std::string> brokenInvariants(const ChaosRun& run, const SimProcessResult& result,
                                          const ChaosTruth& truth) {
    return Checker(run, result, truth).check();
}

}  // namespace corva::test
