#include "tests/e2e/support/run_invariants.h"

#include "app/run_settings.h"
#include "lines/printed_lines.h"
#include "lines/run_figures.h"
#include "report/log_parser.h"
#include "report/metrics.h"
#include "sim/headset/scenario.h"

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

size_t count(const LoggedRun& run, EventKind kind) {
    size_t n = 0;
    for (const report::Event& e : run.events) n += e.kind == kind;
    return n;
}

// Indices of the lines that start with `prefix`.
std::vector<long> linesStarting(const std::string& log, std::string_view prefix) {
    std::istringstream in(log);
    std::vector<long> found;
    long n = 0;
    for (std::string line; std::getline(in, line); ++n)
        if (line.starts_with(prefix)) found.push_back(n);
    return found;
}

// What the scenario's faults can explain, from the simulator's own reading of it.
struct Faults {
    bool parsed = false;
    bool initFault = false;  // no display, or acquisitions that fail
    bool noMcu = false;
    unsigned explains = sim::kExplainsNothing;
};

Faults faultsOf(const std::string& scenarioText) {
    Faults f;
    const sim::ScenarioParse parse = sim::parseScenario(scenarioText);
    if (!parse.ok) return f;
    const sim::Scenario& s = parse.scenario;
    f.parsed = true;
    f.initFault = s.noDisplay || s.acquireFailures > 0 || s.acquireStatusSet;
    f.noMcu = s.noMcu;
    for (const sim::TimedEvent& e : s.timeline) f.explains |= sim::explainsOf(e.event);
    return f;
}

class Checker {
  public:
    Checker(const RunAsked& run, const SimProcessResult& result, const RunTruth& truth)
        : run_(run),
          result_(result),
          read_(truth),
          truth_(truth.truth),
          log_(result.out + result.err),
          faults_(faultsOf(run.scenario)) {}

    std::vector<std::string> check() {
        if (!result_.started) return {"tessaray-sim did not start"};
        expect(faults_.parsed, "the scenario does not parse: " + run_.scenario);
        expect(!result_.timedOut, "killed after its time limit");
        const int code = result_.exitCode;
        expect(code == kExitOk || code == kExitInitFailed || code == kExitDisplayLost,
               "exit code " + std::to_string(code));
        expect(result_.seconds <= run_.boundSeconds,
               "ran " + std::to_string(result_.seconds) + " s, bound " + std::to_string(run_.boundSeconds));
        expect(read_.read, "no ground truth read: " + read_.error);
        const report::ParsedLog parsed = report::parseLog(log_, "run.log");
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

    // The cycles the command line asks for, as the program reads it.
    int cyclesAsked() const {
        std::vector<const char*> argv;
        for (const std::string& a : run_.args) argv.push_back(a.c_str());
        return parseCommandLine(int(argv.size()), argv.data()).cycles;
    }

    bool explained(unsigned what) const { return (faults_.explains & what) != 0; }
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
        if (code == kExitInitFailed) {
            expect(run.end == report::RunEnd::InitFailed, "exit 3 but the log shows no failed bring-up");
            expect(faults_.initFault || run_.signal != 0, "bring-up failed on a headset that has a display");
            return;
        }
        expect(run.end == report::RunEnd::Completed, "no result line");
        expect(run.result.presentSeen && run.result.countersAgree,
               "the counters line disagrees with PRESENT RESULT");
        expect(code == (run.result.displayLost ? kExitDisplayLost : kExitOk),
               "exit code does not follow displayLost");
        // Only a display fault loses the display: a lost vertical blank makes the waits return
        // at once, and failed presents alone (seed 978: presents failing while the vertical
        // blank was lost) never make them time out.
        expect(!run.result.displayLost || explained(sim::kExplainsDisplayLost),
               "display lost without a display fault");
    }

    // Each printed latency is one of the headset's own wakes by the benchmark's means (panel
    // power in cycle mode, the doze command in doze mode), in order. The phase line after it
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
                if (t.on && t.cause == cause && latencyFitsWake(c.wakeLatencyMs, t)) matched = &t;
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
        const auto n = [&run](EventKind kind) { return count(run, kind); };
        expect(n(EventKind::ParkDone) <= n(EventKind::PanelsOff), "PARK_DONE without panels off");
        expect(n(EventKind::ParkDone) <= n(EventKind::ParkRequest), "PARK_DONE without PARK_REQUEST");
        expect(n(EventKind::WakeRequest) <= n(EventKind::ParkDone) + n(EventKind::DozeAsleep),
               "WAKE_REQUEST without the displays taken down");
        expect(n(EventKind::WakeLatency) <= n(EventKind::WakeRequest),
               "more wake latencies than wake requests");
        size_t dozedOff = 0;  // seen off by the telemetry, through a doze
        for (const sim::DisplaysTransition& t : truth_.transitions)
            dozedOff += !t.on && t.cause == HeadsetInput::Doze && t.firstReportNs != 0;
        if (run.proxUp)
            expect(n(EventKind::DozeAsleep) <= dozedOff, "DOZE_ASLEEP without the displays seen off");
    }

    // One outcome per cycle, a cycle without a latency explained by a line, and an
    // incomplete benchmark said once, with counts that match the lines above it.
    void checkCycles(const LoggedRun& run) {
        if (!benchmark() || run.end != report::RunEnd::Completed) return;
        bool noLinkNote = false;
        for (const report::Event& e : run.events)
            noLinkNote = noLinkNote || e.text.starts_with(lines::kBenchNote.prefix());
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
        const int abandoned = int(count(run, EventKind::CycleAbandoned));
        const int wakes = int(count(run, EventKind::WakeRequest));
        const int cycles = cyclesAsked();
        if (!run.endedEarly) {
            expect(abandoned == 0, "cycles abandoned without a BENCH_INCOMPLETE line");
            expect(int(run.cycles.size()) == cycles && wakes == cycles,
                   "cycles missing without a BENCH_INCOMPLETE line");
            return;
        }
        expect(linesStarting(log_, lines::kBenchIncomplete.prefix()).size() == 1,
               "not exactly one BENCH_INCOMPLETE line");
        expect(run.saidOf == cycles, "BENCH_INCOMPLETE counts another number of cycles");
        expect(run.saidCompleted >= 0 && run.saidCompleted < cycles,
               "BENCH_INCOMPLETE with every cycle completed");
        expect(run.saidAbandoned == abandoned, "BENCH_INCOMPLETE says " + std::to_string(run.saidAbandoned) +
                                                   " abandoned, the log shows " + std::to_string(abandoned));
        expect(run.saidCompleted <= wakes, "more cycles completed than wake requests");
    }

    // The restore line tells the microcontroller's truth; a healthy microcontroller (one no
    // fault made silent, vanished or replugged) gets "ok"; the order of the restore among the
    // reconnect's bypass lines is the order on the wire.
    void checkBypass(const LoggedRun& run) {
        if (truth_.bypassAtExit < 0) return;  // no microcontroller
        const size_t restoreLines = linesStarting(log_, lines::kBypassRestored.prefix()).size();
        if (run.bypassOn)
            expect(restoreLines == 1, "the bypass was switched on and " + std::to_string(restoreLines) +
                                          " restore lines follow");
        if (run.bypassRestored == 1)
            expect(truth_.bypassAtExit == 0, "'restored: ok' but the bypass is still on");
        if (run.bypassRestored == 0)
            expect(truth_.bypassAtExit == 1, "'restored: FAILED' but the bypass is off");
        // A healthy microcontroller (no fault made it silent, vanished or replugged) gets
        // "ok": the verdict is its answer to a command after the '[', read in order, so a
        // loaded machine that reads its reports late does not change it. "Not confirmed"
        // claims nothing: a silent microcontroller may have taken the '[' without answering,
        // a replugged one powers up with the bypass off.
        const bool healthy = !faults_.noMcu && !explained(sim::kExplainsLinkLost);
        if (run.bypassOn && healthy)
            expect(run.bypassRestored == 1,
                   "a healthy microcontroller, and the restore said " +
                       std::string(run.bypassRestored == 0 ? "FAILED" : "not confirmed"));

        // "ON" is the microcontroller's own answer: its firmware acted on the first 'p'.
        const auto firstOn = std::find_if(truth_.bypassCommands.begin(), truth_.bypassCommands.end(),
                                          [](const sim::BypassCommand& c) { return c.command == 'p'; });
        if (run.bypassConfirmed)
            expect(firstOn != truth_.bypassCommands.end() && firstOn->applied,
                   "'prox bypass: ON' but the microcontroller did not act on the 'p'");

        const std::string resent = std::string(lines::kMcuBypassResent.prefix()) + lines::kResentOk;
        const std::vector<long> resentLines = linesStarting(log_, resent);
        const size_t sentOn = (run.bypassOn ? 1 : 0) + resentLines.size();
        std::string wire;  // the accepted ones, in the order received
        for (const sim::BypassCommand& c : truth_.bypassCommands)
            if (c.accepted) wire += c.command;
        const size_t accepted = size_t(std::count(wire.begin(), wire.end(), 'p'));
        expect(sentOn == accepted, "the log says 'p' was sent " + std::to_string(sentOn) +
                                       " time(s), the microcontroller took it " + std::to_string(accepted));
        if (!run_.mergeErrors || wire.find('[') == std::string::npos) return;
        const std::vector<long> restore = linesStarting(log_, lines::kBypassRestored.prefix());
        const long restoreAt = restore.empty() ? -1 : restore.back();
        const size_t resentAfter = size_t(
            std::count_if(resentLines.begin(), resentLines.end(), [&](long at) { return at > restoreAt; }));
        const size_t afterOff = wire.size() - wire.rfind('[') - 1;
        expect(resentAfter == afterOff,
               "reconnect and restore lines in another order than on the wire (" + wire + ")");
    }

    const RunAsked& run_;
    const SimProcessResult& result_;
    const RunTruth& read_;
    const sim::GroundTruth& truth_;
    const std::string log_;
    const Faults faults_;
    std::vector<std::string> broken_;
};

}  // namespace

bool latencyFitsWake(double printedMs, const sim::DisplaysTransition& wake) {
    if (wake.wakeStampNs == 0 || wake.firstReportNs == 0) return false;
    // At least until the first report showing it: a wake abandoned after its panels were
    // powered keeps its stamp, and its first report comes only after the outage, so a later
    // wake's latency cannot be mistaken for it.
    return printedMs >= double(wake.firstReportNs - wake.wakeStampNs) / 1e6 - kLatencyEarlyMs &&
           printedMs <= double(wake.firstReportNs - wake.wakeStampNs) / 1e6 + kLatencyLateMs;
}

RunTruth readRunTruth(const std::string& file) {
    RunTruth truth;
    truth.read = sim::readGroundTruthFile(file, truth.truth, truth.error);
    return truth;
}

std::vector<std::string> brokenInvariants(const RunAsked& run, const SimProcessResult& result,
                                          const RunTruth& truth) {
    return Checker(run, result, truth).check();
}

}  // namespace corva::test
