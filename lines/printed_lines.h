// Every line the program prints, defined once in one table: the print sites print these, and
// tessaray-report reads its logs through the same table (lines::classify finds a line's entry
// and scans its fields once; the report's handler for the line reads them).
//
// Each entry: X(Name, stream, role, outcome, facts, (field types...), "format\n")
//   - Name gives lines::kName (the LineFormat the print site prints) and LineId::Name.
//   - role says what the line is to a reader (marker, status, link, note, counter, run result,
//     failure); outcome what a failure means for the run: exit 3 (InitFailed), exit 4
//     (DisplayLost), the run ends normally (RunEnds) or goes on (RunGoesOn). For a status or
//     link line that carries a status, the outcome is that of a failed status; None otherwise.
//     Both are required: an entry without them does not compile.
//   - facts: what else the report and the printer know of the line (Facts below): its step in
//     the start sequence, whether it may come at any time, whether a stalled console may drop
//     it, the kind of failure it reports, the event of the run's time line it records, the
//     field of a step's status. Facts{} for none.
//   - The compiler checks the format's conversions against the field types. Beyond printf's
//     types (lines/line_fields.h): Varying<T> is a field that differs from run to run of the
//     same scenario (golden outputs show its mask instead); OptionalMs and OptionalMsInterval
//     are times that may be absent ("-"), written and read in one place. lines::classify reads
//     every field as its type.
//
// A new line the report reads touches its entry here, its print call
// (`lines::print(lines::kName, ...)`), one handler in report/run_builder.cpp (RunBuilder::read
// lists one per line, in table order, and the build stops on a line without one; a line read
// by its role, outcome and facts alone takes RunBuilder::byRole) and README's row in its table
// of output lines (a test checks that every line it names is defined here).
// Changing a text here changes the program and the reader together; the golden outputs of
// tests/e2e/golden show it (TESSARAY_UPDATE_GOLDEN=1 rewrites them), the one literal check of
// the texts: tests read and write lines through these formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lines/line_format.h"
#include "lines/line_scan.h"
#include "lines/run_events.h"

// Local time as every time-stamped line shows it: hours, minutes, seconds, milliseconds.
#define TESSARAY_CLOCK "%02u:%02u:%02u.%03u"
// The em dash of the program's messages, in UTF-8.
#define TESSARAY_EM_DASH "\xE2\x80\x94"

namespace corva::lines {

// The four fields of TESSARAY_CLOCK, each shown in golden outputs by its mask.
inline constexpr char kHoursMask[] = "hh";
inline constexpr char kMinutesMask[] = "mm";
inline constexpr char kSecondsMask[] = "ss";
inline constexpr char kMillisecondsMask[] = "mmm";
using ClockHours = Varying<unsigned, kHoursMask>;
using ClockMinutes = Varying<unsigned, kMinutesMask>;
using ClockSeconds = Varying<unsigned, kSecondsMask>;
using ClockMilliseconds = Varying<unsigned, kMillisecondsMask>;
#define TESSARAY_CLOCK_FIELDS ClockHours, ClockMinutes, ClockSeconds, ClockMilliseconds
// The display-status word, printed "%04x".
inline constexpr char kWordMask[] = "####";
// The displays-on interval of WAKE_PHASES.
inline constexpr char kIntervalMask[] = "#..#";
// A run condition's verdict: it may differ from run to run on a loaded machine.
inline constexpr char kVerdictMask[] = "verdict";

// What a line is to a reader of the log.
enum class Role : uint8_t {
    Marker,     // a step of the run: an event marker with its time, a cycle's start
    Status,     // a state or a step's driver status: the status line, the display-status word
    Link,       // the proximity link: found, its state, its bypass
    Note,       // says something about the run that carries no failure
    Counter,    // a figure measured by the run: a wake latency and its phases
    RunResult,  // the run's closing counts
    Failure,    // something failed: its outcome says what that means for the run
};

// What a failure implies for the run and the program's exit code.
enum class Outcome : uint8_t {
    None,         // not a failure
    InitFailed,   // the bring-up fails: exit 3 (unless a later attempt gets through)
    DisplayLost,  // the present loop ends: exit 4
    RunEnds,      // the present loop ends early, the run ends normally: exit 0
    RunGoesOn,    // the run goes on
};

// What the report and the printer know of a line beyond its text: the table's facts column.
// Facts{} for a line with none of them; each call adds one.
struct Facts {
    // Defined ahead of its callers: clang 14 cannot evaluate a member template defined later
    // in the class when the table's initializer calls it.
    template <typename T, typename V>
    constexpr Facts with(T Facts::*member, V value) const {
        Facts f = *this;
        f.*member = value;
        return f;
    }

    // Its step in the start sequence (1 the link's telemetry, 2 the proximity state, 3 the
    // bypass, 4 INIT_START): a step that does not come after the run's furthest begins the
    // next run. A marker's step is its marker's (kMarkers).
    constexpr Facts startStep(int s) const { return with(&Facts::step, s); }
    constexpr Facts startStepByMarker() const { return with(&Facts::byMarker, true); }
    // Printed by the link's reader thread or the display-status monitor, which may print
    // before the start sequence is through: it does not end the sequence.
    constexpr Facts anyTime() const { return with(&Facts::anyTime_, true); }
    // Repeats with every frame or status change: a stalled console may lose it (printer.h).
    // Every other line is one a run is judged by, never dropped.
    constexpr Facts droppable() const { return with(&Facts::droppable_, true); }
    // The kind of failure the report files it under; without, one by its role and outcome.
    constexpr Facts failure(FailureKind kind) const {
        return with(&Facts::failure_, kind).with(&Facts::failureGiven, true);
    }
    // The event of the run's time line it records.
    constexpr Facts event(EventKind kind) const {
        return with(&Facts::event_, kind).with(&Facts::records, true);
    }
    // The field that carries a bring-up step's driver status.
    constexpr Facts statusField(int field) const { return with(&Facts::status, field); }

    constexpr FailureKind failureOf(Role role, Outcome outcome) const {
        if (failureGiven) return failure_;
        if (role == Role::Status) return FailureKind::Driver;
        return outcome == Outcome::InitFailed    ? FailureKind::Init
               : outcome == Outcome::DisplayLost ? FailureKind::DisplayLost
                                                 : FailureKind::Other;
    }

    int step = 0;
    bool byMarker = false;
    bool anyTime_ = false;
    bool droppable_ = false;
    FailureKind failure_ = FailureKind::Other;
    bool failureGiven = false;
    EventKind event_ = EventKind::Failure;
    bool records = false;
    int status = -1;
};

// clang-format off
#define TESSARAY_PRINTED_LINES(X)                                                                                      \
    /* ---- Run control ---- */                                                                                        \
    /* Event markers: "NAME hh:mm:ss.mmm" (the names below). */                                                        \
    X(Marker, Out, Marker, None, Facts{}.startStepByMarker(),                                                          \
      (const char*, TESSARAY_CLOCK_FIELDS), "%s " TESSARAY_CLOCK "\n")                                                 \
    X(ProxUp, Out, Link, None, Facts{}.startStep(2), (const char*, Varying<unsigned>), "prox up: %s (distance %u)\n")  \
    X(ProxUnavailable, Out, Link, None, Facts{}.startStep(2), (), "prox unavailable (non-fatal)\n")                    \
    X(Bypass, Out, Link, None, Facts{}.startStep(3), (const char*), "prox bypass: %s\n")                               \
    X(BypassRestored, Out, Link, None, Facts{}, (const char*), "prox bypass restored: %s\n")                           \
    X(RunResult, Out, RunResult, None, Facts{}.event(EventKind::Result),                                               \
      (Varying<unsigned long long>, unsigned long long, Varying<unsigned long long>, int),                             \
      "frames=%llu presentErrors=%llu freeRunEvents=%llu displayLost=%d\n")                                            \
    /* Status line, about once a second. */                                                                            \
    X(Status, Out, Status, None, Facts{}.droppable(),                                                                  \
      (TESSARAY_CLOCK_FIELDS, Varying<double>, const char*, Varying<unsigned>, Varying<unsigned, kWordMask>,           \
       Varying<int>, Varying<int>, Varying<int>, const char*),                                                         \
      "  " TESSARAY_CLOCK " fps=%5.1f prox=%s(%u) dstat=0x%04x[disp=%d proxOn=%d dsc=%d]%s\n")                         \
    X(DstatChange, Out, Status, None, Facts{}.anyTime().droppable().event(EventKind::DstatChange),                     \
      (unsigned, unsigned, int, int, TESSARAY_CLOCK_FIELDS),                                                           \
      "DSTAT_CHANGE 0x%04x -> 0x%04x [disp=%d proxOn=%d] " TESSARAY_CLOCK "\n")                                        \
    X(WakeLatency, Out, Counter, None, Facts{}.event(EventKind::WakeLatency), (Varying<double>),                       \
      "WARM_WAKE_LATENCY %.1f ms (WAKE_REQUEST -> DISPLAYS_ON)\n")                                                     \
    X(WakeLatencyDiscarded, Out, Note, None, Facts{}.event(EventKind::RunNote), (const char*),                         \
      "WAKE_LATENCY_DISCARDED: %s before the displays were seen on\n")                                                 \
    /* After each timed wake's latency: its steps in ms from the request, and the displays-on */                       \
    /* interval, each "-" when not taken (lines/line_fields.h writes and reads them). */                               \
    X(WakePhases, Out, Counter, None, Facts{}.event(EventKind::WakePhases),                                            \
      (Varying<OptionalMs>, Varying<OptionalMs>, Varying<OptionalMs>, Varying<OptionalMs>,                             \
       Varying<OptionalMsInterval, kIntervalMask>),                                                                    \
      "WAKE_PHASES react=%s mode=%s power=%s vblank=%s on=%s ms\n")                                                    \
    /* After a timed wake's WAKE_PHASES, one per condition that failed around that wake: the */                        \
    /* condition, its figure and its limit in ms (app/run_conditions.h says why each). */                            \
    X(WakeCondition, Out, Note, None, Facts{}, (const char*, Varying<double>, double),                                 \
      "WAKE_CONDITION %s failed: %.1f ms, limit %.1f ms\n")                                                            \
    /* At the end of the run, one per condition the wake figures rest on: its name, its figures, */                    \
    /* its verdict (kHeld, kFailed, kUnmeasured) and the limit it was judged by. */                                    \
    X(RunCondition, Out, Note, None, Facts{}, (const char*, Varying<const char*>, Varying<const char*, kVerdictMask>,    \
       const char*),                                                                                                   \
      "RUN_CONDITION %s: %s " TESSARAY_EM_DASH " %s (limit: %s)\n")                                                   \
    X(TelemetryMsRefused, Err, Failure, RunGoesOn, Facts{}, (const char*, unsigned),                                   \
      "tessaray: TESSARAY_TELEMETRY_MS=%s is not a whole number of ms from 1 to 50; using %u ms\n")                    \
    /* Windows: a second run while one holds the machine's headset; exits with 3, touching nothing. */                 \
    X(AnotherRunHoldsTheHeadset, Err, Failure, InitFailed, Facts{}, (),                                                \
      "tessaray: another tessaray is already running on this machine; exiting without touching the headset\n")         \
    X(LibrarySearchNotRestricted, Err, Failure, RunGoesOn, Facts{}, (unsigned long),                                   \
      "tessaray: library search not restricted to the system directory (system error %lu)\n")                          \
    /* Windows: the last line when started from Explorer, whose console closes as the program ends. */                 \
    X(PressAKeyToClose, Err, Note, None, Facts{}, (), "Press any key to close this window.\n")                         \
    /* Windows: the power-throttling opt-outs asked for before the timer resolution is raised. */                     \
    X(TimerThrottlingOptOutRefused, Err, Failure, RunGoesOn, Facts{}, (unsigned long),                                 \
      "tessaray: power-throttling opt-out for timer resolution refused (system error %lu); execution speed opt-out "  \
      "kept\n")                                                                                                        \
    X(ThrottlingOptOutsRefused, Err, Failure, RunGoesOn, Facts{}, (unsigned long, unsigned long),                      \
      "tessaray: power-throttling opt-outs refused (system error %lu; execution speed alone: %lu); the threads may "  \
      "be throttled\n")                                                                                                \
    /* Windows: what installing the stop handlers could not do. */                                                    \
    X(ConsoleHandlerMissing, Err, Failure, RunGoesOn, Facts{}, (unsigned long),                                        \
      "tessaray: console control handler not installed (system error %lu); Ctrl+C or closing the window ends the "    \
      "run without its teardown\n")                                                                                    \
    X(SessionEndWindowMissing, Err, Failure, RunGoesOn, Facts{}, (unsigned long),                                      \
      "tessaray: session-end window not made (system error %lu); a log-off or shut-down ends the run without its "    \
      "teardown\n")                                                                                                    \
    /* ---- Benchmark ---- */                                                                                          \
    X(Cycle, Out, Marker, None, Facts{}.event(EventKind::CycleStart), (int, int), "CYCLE %d/%d\n")                     \
    X(CycleAbandoned, Out, Note, None, Facts{}.event(EventKind::CycleAbandoned), (int, int, const char*),              \
      "CYCLE_ABANDONED %d/%d: %s; no wake latency for this cycle\n")                                                   \
    /* Once at the start of a benchmark without the proximity link. */                                                 \
    X(BenchNote, Out, Note, None, Facts{}.event(EventKind::RunNote),                                                   \
      (const char*), "BENCH_NOTE: no proximity link: %s; no wake latency is timed\n")                                  \
    X(BenchIncomplete, Out, Note, None, Facts{}.event(EventKind::RunNote), (int, int, int, const char*, const char*),  \
      "BENCH_INCOMPLETE: %d of %d cycles completed, %d abandoned%s%s\n")                                               \
    /* ---- Proximity link ---- */                                                                                     \
    X(McuNotFound, Err, Failure, RunGoesOn, Facts{}.startStep(1).anyTime().failure(FailureKind::Mcu), (),              \
      "McuProx: no 35BD:0101 interface ACKed the rate command (Vantor unplugged?)\n")                                  \
    X(McuTelemetry, Out, Link, None, Facts{}.startStep(1).anyTime(),                                                   \
      (unsigned, unsigned, unsigned, const char*, const char*),                                                        \
      "McuProx: telemetry at %u ms, threshold %u +/- %u; firmware %s (doze %s)\n")                                     \
    X(McuReconnected, Err, Link, None, Facts{}.anyTime().event(EventKind::McuReconnected),                             \
      (), "McuProx: device reconnected, telemetry restarted\n")                                                        \
    /* A failure when it says anything but kResentOk. */                                                               \
    X(McuBypassResent, Err, Link, RunGoesOn, Facts{}.anyTime().failure(FailureKind::Mcu),                              \
      (const char*), "McuProx: proximity bypass re-sent after reconnect: %s\n")                                        \
    X(McuIntervalOff, Err, Note, None, Facts{}.anyTime(), (double, unsigned),                                          \
      "McuProx: telemetry arrives every %.1f ms, not the %u ms asked for\n")                                           \
    X(McuInterfaceRefused, Err, Note, None, Facts{}.anyTime(), (unsigned, unsigned, unsigned),                         \
      "McuProx: 35BD:0101 interface refused: input reports of %u bytes, feature reports of %u bytes (the "             \
      "protocol's are %u)\n")                                                                                          \
    /* Windows: ids read without access; the interface that matches is opened again to be used. */                  \
    X(McuInterfaceNotOpened, Err, Note, None, Facts{}.anyTime(), (unsigned long),                                      \
      "McuProx: 35BD:0101 interface not opened for reading and writing (system error %lu); another program may "      \
      "hold it\n")                                                                                                     \
    X(McuReadFailed, Err, Failure, RunGoesOn, Facts{}.anyTime().failure(FailureKind::Mcu).event(EventKind::McuLost),   \
      (unsigned long),                                                                                                 \
      "McuProx: read failed (err %lu) " TESSARAY_EM_DASH " device gone, waiting for reconnect\n")                      \
    X(McuSilent, Err, Failure, RunGoesOn, Facts{}.anyTime().failure(FailureKind::Mcu).event(EventKind::McuLost),       \
      (int),                                                                                                           \
      "McuProx: telemetry silent %ds " TESSARAY_EM_DASH " device gone, waiting for reconnect\n")                       \
    /* ---- Presenter: bring-up ---- */                                                                                \
    /* A failed driver or graphics call: its text, status and the call site's fixed number. The two */                 \
    /* print alike; a reader tells them apart through the bring-up calls (lines/bring_up_calls.h). */                  \
    X(DriverCallFailed, Err, Failure, InitFailed, Facts{}.failure(FailureKind::Driver),                                \
      (const char*, unsigned, int), "Presenter: %s = 0x%x (line %d)\n")                                                \
    X(GraphicsCallFailed, Err, Failure, InitFailed, Facts{}.failure(FailureKind::Graphics),                            \
      (const char*, unsigned long, int),                                                                               \
      "Presenter: %s = 0x%lx (line %d)\n")                                                                             \
    X(DriverVersion, Out, Note, None, Facts{}, (unsigned, unsigned, const char*), "NVIDIA driver %u.%02u (%s)\n")      \
    X(ProfilePinned, Out, Note, None, Facts{}, (),                                                                     \
      "driver profile: power management pinned to max performance (new " TESSARAY_EM_DASH                              \
      " takes full effect from this or the next launch)\n")                                                            \
    X(ProfileFailed, Err, Failure, RunGoesOn, Facts{}, (),                                                             \
      "driver profile: could not pin max performance " TESSARAY_EM_DASH                                                \
      " if tracking rubber-bands, set Power management mode = Prefer maximum performance for "                         \
      "tessaray.exe in NVIDIA Control Panel\n")                                                                        \
    X(EnableDirectMode, Out, Status, RunGoesOn, Facts{}.statusField(1),                                                \
      (unsigned, unsigned), "EnableDirectMode(0x%x) = 0x%x\n")                                                         \
    X(NoDisplay, Err, Failure, InitFailed, Facts{}, (), "Presenter: no DirectMode display (Vantor not attached?)\n")   \
    X(DisplayId, Out, Note, None, Facts{}, (unsigned), "using displayId 0x%x\n")                                       \
    X(ModeListed, Out, Note, None, Facts{},                                                                            \
      (unsigned, unsigned, unsigned, double, int), "mode[%u]: %ux%u @ %.3f Hz format=%d\n")                            \
    X(NoModeMatches, Err, Failure, InitFailed, Facts{}, (unsigned, unsigned, double, int),                             \
      "Presenter: no mode matches %ux%u@%.0f format %d " TESSARAY_EM_DASH " refusing to guess (mode list above)\n")    \
    X(ModeFallback, Out, Note, None, Facts{}, (unsigned, unsigned, double, unsigned, unsigned, double, int),           \
      "Presenter: requested %ux%u@%.0f not offered (headset rate toggle set to the other "                             \
      "refresh?) " TESSARAY_EM_DASH " using %ux%u@%.3f, same link format %d\n")                                        \
    X(UsingMode, Out, Note, None, Facts{},                                                                             \
      (unsigned, unsigned, double, int), "using mode %ux%u @ %.3f Hz format=%d\n")                                     \
    X(ForcingDsc, Out, Note, None, Facts{}, (), "forcing DSC 1.1, 4 slices, 8 bpp\n")                                  \
    X(NormalQueuePriority, Err, Note, None, Facts{}, (), "Presenter: HIGH queue priority unavailable, using NORMAL\n") \
    X(FenceEventNotCreated, Err, Failure, InitFailed, Facts{}, (unsigned long),                                        \
      "Presenter: fence event not created (system error %lu)\n")                                                       \
    /* Retried: only the last attempt's failure fails the bring-up. */                                                 \
    X(Acquire, Out, Status, InitFailed, Facts{}.statusField(0),                                                        \
      (unsigned, const char*), "AcquireDirectModeDisplay = 0x%x%s\n")                                                  \
    X(AcquireAbandoned, Err, Failure, InitFailed, Facts{}, (),                                                         \
      "Presenter: display acquisition abandoned " TESSARAY_EM_DASH " stop requested\n")                                \
    X(Surface, Out, Note, None, Facts{}, (unsigned, unsigned, int), "surface: %ux%u format=%d\n")                      \
    X(NoTypedView, Err, Failure, InitFailed, Facts{}, (int),                                                           \
      "Presenter: surface format %d has no typed RTV mapping " TESSARAY_EM_DASH                                        \
      " refusing (would scan out uninitialized VRAM)\n")                                                               \
    X(ViewFormat, Out, Note, None, Facts{}, (int), "rtv format: %d\n")                                                 \
    X(SetDisplayMode, Out, Status, InitFailed, Facts{}.statusField(0), (unsigned), "SetDisplayMode = 0x%x\n")          \
    X(PowerOn, Out, Status, RunGoesOn, Facts{}.statusField(0), (unsigned), "DisplayControl(POWER_ON) = 0x%x\n")        \
    X(Waitable, Out, Status, RunGoesOn, Facts{}.statusField(0), (unsigned), "GetPresentWaitableObject = 0x%x\n")       \
    /* ---- Presenter: present loop and power states ---- */                                                           \
    X(PanelsOff, Out, Status, RunGoesOn, Facts{}.event(EventKind::PanelsOff),                                          \
      (unsigned), "Presenter: panels OFF (idle policy) = 0x%x\n")                                                      \
    X(PanelsOn, Out, Status, RunGoesOn, Facts{}.event(EventKind::PanelsOn), (unsigned, unsigned),                      \
      "Presenter: panels ON (wake), SetDisplayMode=0x%x POWER_ON=0x%x\n")                                              \
    X(DeviceRemoved, Err, Failure, DisplayLost, Facts{}, (unsigned long),                                              \
      "Presenter: D3D12 device removed (0x%lx) " TESSARAY_EM_DASH                                                      \
      " display lost (cable pulled?), exiting present loop\n")                                                         \
    X(DeviceRemovedParked, Err, Failure, DisplayLost, Facts{}, (),                                                     \
      "Presenter: device removed while panels off " TESSARAY_EM_DASH " display lost, exiting present loop\n")          \
    X(WaitableDead, Err, Failure, DisplayLost, Facts{}, (unsigned long long),                                          \
      "Presenter: present waitable dead for %llus " TESSARAY_EM_DASH " display lost, exiting present loop\n")          \
    X(WaitableWaitFailed, Err, Failure, RunGoesOn, Facts{}, (unsigned long),                                           \
      "Presenter: present waitable wait failed (system error %lu) " TESSARAY_EM_DASH                                   \
      " counted as a time-out\n")                                                                                      \
    X(PresentFailed, Err, Failure, RunGoesOn, Facts{}.droppable().failure(FailureKind::Present),                       \
      (unsigned, unsigned long long), "Present12 = 0x%x at frame %llu\n")                                              \
    X(PresentBudgetUsed, Err, Failure, RunEnds, Facts{}.failure(FailureKind::Present), (unsigned long long),           \
      "Presenter: %llu presents failed " TESSARAY_EM_DASH                                                              \
      " present-error budget used up, exiting present loop\n")                                                         \
    X(FreeRunStart, Err, Status, None, Facts{}.droppable().event(EventKind::FreeRunStart), (double),                   \
      "WARNING: present loop free-running (vsync lost " TESSARAY_EM_DASH                                               \
      " headset doffed?), self-pacing at %.0f Hz\n")                                                                   \
    X(FreeRunOver, Err, Status, None, Facts{}.droppable().event(EventKind::FreeRunEnd),                                \
      (), "free-run over: vsync pacing restored\n")                                                                    \
    X(PresentResult, Out, RunResult, None, Facts{},                                                                    \
      (Varying<unsigned long long>, Varying<double>, Varying<double>, unsigned long long, unsigned long long,          \
       Varying<unsigned long long>),                                                                                   \
      "PRESENT RESULT: %llu frames in %.1fs = %.2f fps avg, presentErrors %llu, waitTimeouts %llu, "                   \
      "freeRunEvents %llu\n")                                                                                          \
    X(PresentNote, Out, Note, None, Facts{}.event(EventKind::RunNote), (unsigned long long),                           \
      "PRESENT NOTE: %llu of these frames failed to present and were not shown\n")                                     \
    /* ---- Frame trace ---- */                                                                                        \
    X(TraceUnwritable, Err, Failure, RunGoesOn, Facts{}, (const char*, const char*),                                   \
      "tessaray: cannot write the trace file '%s' (%s); running without a trace\n")                                    \
    /* ---- Output itself ---- */                                                                                      \
    /* Lines of the present loop or the proximity reader that found the output queue full (the */                      \
    /* console held output back for long): they are not waited for, only counted. */                                   \
    X(LinesDropped, Err, Note, None, Facts{}.event(EventKind::RunNote), (unsigned long long),                          \
      "OUTPUT NOTE: %llu lines of the present loop and the proximity reader dropped " TESSARAY_EM_DASH                 \
      " the console held output back\n")                                                                               \
    /* Standard output is a pipe whose reader has gone (`cmd | head`): the run stops as on Ctrl+C. */                  \
    X(StdoutReaderGone, Err, Note, None, Facts{}, (),                                                                  \
      "tessaray: standard output's reader has gone " TESSARAY_EM_DASH " stopping the run\n")                           \
    /* Once at the end of a run whose standard output lost lines: closed at start, full, failing. */                   \
    X(OutputLost, Err, Failure, RunGoesOn, Facts{}, (const char*, unsigned long long, unsigned long long),             \
      "tessaray: standard output could not be written (%s); %llu of its %llu lines were lost\n")
// clang-format on

#define TESSARAY_LINE_FIELD_TYPES(...) __VA_ARGS__

// The lines' ids, in table order.
enum class LineId : uint16_t {
#define TESSARAY_LINE_ID(name, stream, role, outcome, facts, fields, text) name,
    TESSARAY_PRINTED_LINES(TESSARAY_LINE_ID)
#undef TESSARAY_LINE_ID
};

#define TESSARAY_LINE_COUNT(name, stream, role, outcome, facts, fields, text) +1
inline constexpr size_t kLineCount = 0 TESSARAY_PRINTED_LINES(TESSARAY_LINE_COUNT);
#undef TESSARAY_LINE_COUNT

// The formats the print sites print: lines::kName.
#define TESSARAY_LINE_FORMAT(name, stream, role, outcome, facts, fields, text) \
    inline constexpr LineFormat<TESSARAY_LINE_FIELD_TYPES fields> k##name{Stream::stream, text};
TESSARAY_PRINTED_LINES(TESSARAY_LINE_FORMAT)
#undef TESSARAY_LINE_FORMAT

// One entry of the table, as readers see it.
struct PrintedLine {
    LineId id;
    const char* name;
    Stream stream;
    Role role;
    Outcome outcome;
    const char* format;
    std::string_view prefix;
    size_t fields;
    const char* const* masks;                 // per field: its mask when it varies, else nullptr
    bool (*fieldsRead)(const ScannedField*);  // the scanned fields read as their declared types
    // Its facts (see Facts), the kind of failure it reports when it reports one.
    int startStep;
    bool startStepByMarker;
    bool printedAnyTime;
    bool droppable;
    FailureKind failure;
    bool recordsEvent;
    EventKind event;
    int statusField;
};

namespace detail {
template <typename... Fields>
inline constexpr const char* kFieldMasks[] = {FieldTraits<Fields>::mask..., nullptr};
}  // namespace detail

inline constexpr PrintedLine kPrintedLines[] = {
#define TESSARAY_LINE_ENTRY(name, stream, role, outcome, facts, fields, text) \
    {LineId::name,                                                            \
     #name,                                                                   \
     Stream::stream,                                                          \
     Role::role,                                                              \
     Outcome::outcome,                                                        \
     k##name.format(),                                                        \
     k##name.prefix(),                                                        \
     k##name.fieldCount(),                                                    \
     detail::kFieldMasks<TESSARAY_LINE_FIELD_TYPES fields>,                   \
     &detail::fieldsRead<TESSARAY_LINE_FIELD_TYPES fields>,                   \
     (facts).step,                                                            \
     (facts).byMarker,                                                        \
     (facts).anyTime_,                                                        \
     (facts).droppable_,                                                      \
     (facts).failureOf(Role::role, Outcome::outcome),                         \
     (facts).records,                                                         \
     (facts).event_,                                                          \
     (facts).status},
    TESSARAY_PRINTED_LINES(TESSARAY_LINE_ENTRY)
#undef TESSARAY_LINE_ENTRY
};

constexpr const PrintedLine& entryOf(LineId id) {
    return kPrintedLines[static_cast<size_t>(id)];
}

// A failure is one with an outcome; a line that is no failure implies none of its own.
constexpr bool rolesAreConsistent() {
    for (const PrintedLine& line : kPrintedLines) {
        if (line.role == Role::Failure && line.outcome == Outcome::None) return false;
        if (line.role != Role::Failure && line.role != Role::Status && line.role != Role::Link &&
            line.outcome != Outcome::None)
            return false;
    }
    return true;
}
static_assert(rolesAreConsistent(), "a failure needs its outcome; only failures and statuses have one");

// ---- Words inside the lines ------------------------------------------------------------------

// The names of the event markers (kMarker): their events' names (lines/run_events.h).
inline constexpr const char* kInitStart = eventName(EventKind::InitStart);
inline constexpr const char* kInitDone = eventName(EventKind::InitDone);
inline constexpr const char* kFirstDraw = eventName(EventKind::FirstDraw);
inline constexpr const char* kParkRequest = eventName(EventKind::ParkRequest);
inline constexpr const char* kParkDone = eventName(EventKind::ParkDone);
inline constexpr const char* kDozeSleepRequest = eventName(EventKind::DozeSleepRequest);
inline constexpr const char* kDozeAsleep = eventName(EventKind::DozeAsleep);
inline constexpr const char* kWakeRequest = eventName(EventKind::WakeRequest);
inline constexpr const char* kBenchEnd = eventName(EventKind::BenchEnd);

// Each marker with the event it records and its step in the start sequence (see Facts).
struct MarkerLine {
    const char* name;
    EventKind event;
    int startStep;
};
inline constexpr MarkerLine kMarkers[] = {
    {kInitStart, EventKind::InitStart, 4},   {kInitDone, EventKind::InitDone, 0},
    {kFirstDraw, EventKind::FirstDraw, 0},   {kParkRequest, EventKind::ParkRequest, 0},
    {kParkDone, EventKind::ParkDone, 0},     {kDozeSleepRequest, EventKind::DozeSleepRequest, 0},
    {kDozeAsleep, EventKind::DozeAsleep, 0}, {kWakeRequest, EventKind::WakeRequest, 0},
    {kBenchEnd, EventKind::BenchEnd, 0},
};

// The marker of that name; nullptr for a name the program does not print.
constexpr const MarkerLine* markerNamed(std::string_view name) {
    for (const MarkerLine& marker : kMarkers)
        if (name == marker.name) return &marker;
    return nullptr;
}

// kProxUp, kStatus.
inline constexpr const char* kWorn = "worn";
inline constexpr const char* kAway = "away";
inline constexpr const char* kProxNotAvailable = "n/a";
inline constexpr const char* kFreeRunSuffix = "  [FREE-RUN: vsync lost]";
inline constexpr std::string_view kFreeRunWord = "FREE-RUN";

// kBypass, kBypassRestored, kMcuBypassResent.
inline constexpr const char* kBypassOn = "ON ('p' sent)";
// The device took the 'p' but did not answer the command sent after it: nobody can tell.
inline constexpr const char* kBypassNotConfirmed =
    "'p' sent, not confirmed " TESSARAY_EM_DASH
    " the microcontroller is not answering; the displays may blank when the headset is taken off";
inline constexpr const char* kBypassFailed = "FAILED";
inline constexpr const char* kRestoredOk = "ok ('[' sent)";
inline constexpr const char* kRestoredFailed =
    "FAILED " TESSARAY_EM_DASH " power-cycle the headset or send '[' to clear";
// The microcontroller was gone, or did not answer the command sent after the '[': nobody can tell.
inline constexpr std::string_view kNotConfirmedWord = "not confirmed";
inline constexpr const char* kRestoredNotConfirmed =
    "not confirmed " TESSARAY_EM_DASH
    " the microcontroller is not answering; if the displays stay lit with the headset off, power-cycle the "
    "headset or send '[' to clear";
inline constexpr const char* kResentOk = "ok ('p' sent)";

// kWakeLatencyDiscarded, kCycleAbandoned.
inline constexpr const char* kLinkLost = "proximity link lost";
inline constexpr const char* kTelemetryPaused = "proximity telemetry paused";

// kRunCondition: the verdicts, searched for in logs, and the conditions.
inline constexpr const char* kHeld = "held";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kUnmeasured = "unmeasured";  // cannot be measured here: never held
inline constexpr const char* kMonitorPoll = "monitor poll";
inline constexpr const char* kParkedPoll = "parked poll";
inline constexpr const char* kTelemetry = "telemetry";
inline constexpr const char* kVerticalBlank = "vertical blank";
inline constexpr const char* kMachine = "machine";
// kWakeCondition: what failed around one wake.
inline constexpr const char* kMonitorGap = "monitor gap";
inline constexpr const char* kParkedGap = "parked gap";
inline constexpr const char* kReaderStall = "reader stall";

// kBenchNote.
// A doze cycle's reason when the displays stay on after the doze command (see kDozeOffWaitSeconds).
inline constexpr const char* kDozeNotOff = "the displays did not go off within 3 s of the doze command";
inline constexpr const char* kNoLinkDoze = "the displays are not dozed (the doze command needs the link)";
inline constexpr const char* kNoLinkCycle = "the panels are parked and woken";

// kMcuTelemetry.
inline constexpr const char* kFirmwareUnknown = "unknown";
inline constexpr const char* kDozeCapable = "capable";
inline constexpr const char* kDozeUnavailable = "unavailable -> parked fallback";

// kAcquire.
inline constexpr const char* kHdcpDisabled = " (HDCP disabled, continuing)";

// kOutputLost: standard output had no descriptor at start.
inline constexpr const char* kClosedAtStart = "it was closed at start";

}  // namespace corva::lines
