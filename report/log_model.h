// What a saved tessaray log tells about each run, reconstructed line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lines/printed_lines.h"

namespace corva::report {

// Times are milliseconds of local time of day, unwrapped across midnight so they only
// grow within a run (the day after midnight counts on from 86,400,000).
constexpr int64_t kNoTime = -1;

// Benchmark: cycles were seen, but no park or doze step that tells which kind.
enum class RunMode { Unknown, Plain, Cycle, Doze, Benchmark };

// Why a cycle has or has not got a wake latency.
enum class CycleOutcome {
    Measured,        // its WARM_WAKE_LATENCY line was seen
    NoTelemetry,     // the proximity link was not up: no latency can be measured
    Abandoned,       // the benchmark gave the cycle up and said so
    Discarded,       // the program discarded the wake's latency and said why
    Interrupted,     // the run ended (stop, display lost, run length) before the latency
    LogCut,          // the log ends in the middle of the cycle
    LatencyMissing,  // the run went on past it, but no latency line came
};

// The program's split of one timed wake (WAKE_PHASES): ms from the wake request, -1 for a
// step the wake did not take. The displays came on between onLoMs and onHiMs.
struct WakePhases {
    bool seen = false;
    double reactMs = -1.0;   // the wake acted on
    double modeMs = -1.0;    // mode set (park wakes)
    double powerMs = -1.0;   // panels' power-on call / doze wake command returned
    double vblankMs = -1.0;  // first vertical blank after power-on (park wakes)
    bool interval = false;
    double onLoMs = 0.0;  // may be below 0: the last off report came before the request
    double onHiMs = 0.0;
};

struct Cycle {
    int number = 0;
    int total = 0;
    size_t line = 0;                  // log line of "CYCLE n/N"
    int64_t startMs = kNoTime;        // the CYCLE line (untimed: the last timed line before it)
    int64_t downRequestMs = kNoTime;  // PARK_REQUEST or DOZE_SLEEP_REQUEST
    int64_t downDoneMs = kNoTime;     // PARK_DONE or DOZE_ASLEEP
    int64_t displaysOffMs = kNoTime;  // first change clearing disp after the down request
    int64_t wakeRequestMs = kNoTime;
    int64_t displaysOnMs = kNoTime;  // first change setting disp after the wake request
    double wakeLatencyMs = -1.0;     // printed WARM_WAKE_LATENCY, -1 when none
    WakePhases phases;               // the WAKE_PHASES line after the latency
    bool latencyDiscarded = false;   // WAKE_LATENCY_DISCARDED for this cycle's wake
    bool downDoneAfterEnd = false;   // PARK_DONE / DOZE_ASLEEP printed only after BENCH_END
    CycleOutcome outcome = CycleOutcome::LatencyMissing;
    std::string note;  // the abandon line's reason, when there is one
};

// The events of a run's time line, and the line each comes from, are the table's (lines/run_events.h).
using EventKind = lines::EventKind;

struct Event {
    EventKind kind = EventKind::Failure;
    int64_t ms = kNoTime;  // untimed lines carry the time of the last timed line before them
    bool timed = false;    // the line had its own time stamp
    int cycle = 0;         // the cycle it belongs to, 0 outside the benchmark's cycles
    uint16_t dstatFrom = 0;
    uint16_t dstatTo = 0;
    double value = 0.0;  // latency in ms for WakeLatency; the failure's index for Failure
    size_t line = 0;
    std::string text;  // the line itself, for notes the report does not take apart
};

enum class ProxState { NotAvailable, Worn, Away };

struct StatusSample {
    int64_t ms = kNoTime;
    double fps = 0.0;
    ProxState prox = ProxState::NotAvailable;
    unsigned distance = 0;
    uint16_t dstat = 0;
    bool freeRun = false;
    // Printed after BENCH_END: the frames of part of a second, no frame rate.
    bool partial = false;
    size_t line = 0;
};

struct FreeRunPeriod {
    int64_t startMs = kNoTime;
    int64_t endMs = kNoTime;  // kNoTime: still free-running when the run ended
    size_t line = 0;
};

using FailureKind = lines::FailureKind;

struct Failure {
    FailureKind kind = FailureKind::Other;
    lines::Outcome outcome = lines::Outcome::RunGoesOn;  // what its line implies for the run
    std::string call;                                    // the call text, for driver and graphics lines
    uint32_t status = 0;
    int sourceLine = -1;  // the stable call-site number, -1 when the line has none
    int64_t ms = kNoTime;
    size_t line = 0;
    std::string text;  // the whole line
};

struct RunResult {
    bool seen = false;  // the "frames=..." line
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t freeRunEvents = 0;
    bool displayLost = false;
    bool presentSeen = false;  // the "PRESENT RESULT: ..." line
    double seconds = 0.0;
    double averageFps = 0.0;
    uint64_t waitTimeouts = 0;
    size_t presentLines = 0;    // "PRESENT RESULT" lines: one in a whole run
    bool countersAgree = true;  // "frames=..." repeats the PRESENT RESULT's counts
};

enum class RunEnd {
    Completed,   // the result line was printed
    InitFailed,  // bring-up failed (exit 3): the log ends after its reasons
    LogCut,      // the log stops before the run's end: killed, or still running
};

struct LoggedRun {
    std::string source;  // file name, "-" for standard input
    size_t firstLine = 0;
    size_t lastLine = 0;
    RunMode mode = RunMode::Unknown;
    int cycleCount = 0;  // N of "CYCLE n/N"
    // Settings the log does not print, inferred from the cycles' medians (seconds, -1 unknown).
    double activeSeconds = -1.0;
    double holdSeconds = -1.0;

    bool proxUp = false;
    bool proxSeen = false;
    ProxState proxAtStart = ProxState::NotAvailable;  // "prox up: worn (distance N)"
    unsigned distanceAtStart = 0;
    std::string firmware;
    unsigned telemetryMs = 0;  // the interval asked of the MCU; 0 when not printed
    bool dozeCapable = false;
    bool bypassOn = false;         // the 'p' was taken ...
    bool bypassConfirmed = false;  // ... and the microcontroller answered after it
    int bypassRestored = -1;       // -1 not printed, 0 FAILED, 1 ok, 2 not confirmed (device silent or gone)
    std::string driverVersion;
    std::string modeText;  // "5088x2544 @ 75.000 Hz format=22"
    double refreshHz = 0.0;

    int64_t initStartMs = kNoTime;
    int64_t initDoneMs = kNoTime;
    int64_t firstDrawMs = kNoTime;
    int64_t benchEndMs = kNoTime;
    int64_t firstMs = kNoTime;
    int64_t lastMs = kNoTime;
    bool benchEndSeen = false;
    bool appendedErrors = false;  // standard error followed standard output in the log
    bool endedEarly = false;      // the program said the run ended before its cycles were done
    std::string endNote;
    // Its own counts in "BENCH_INCOMPLETE: c of N cycles completed, a abandoned" (-1: none).
    int saidCompleted = -1;
    int saidOf = -1;
    int saidAbandoned = -1;

    RunEnd end = RunEnd::LogCut;
    RunResult result;

    std::vector<Cycle> cycles;
    std::vector<Event> events;
    std::vector<StatusSample> status;
    std::vector<FreeRunPeriod> freeRuns;
    std::vector<Failure> failures;

    size_t lines = 0;
    size_t unrecognised = 0;
    size_t otherRecognised = 0;  // lines of the program that carry no number this report uses
    size_t newerMarkers = 0;     // markers of a newer version (names this report does not know)
    size_t orphanLatencies = 0;  // latency lines with no wake request before them
};

struct ParsedLog {
    std::string source;
    std::vector<LoggedRun> runs;
    size_t lines = 0;
    size_t unrecognised = 0;                       // lines outside any run or not the program's
    std::vector<std::string> unrecognisedSamples;  // the first few, for the summary
    bool isLog = false;                            // at least one line the program prints
    std::string encoding;                          // "UTF-8", "UTF-16LE", "legacy code page"
};

}  // namespace corva::report
