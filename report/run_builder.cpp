#include "report/run_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "lines/bring_up_calls.h"
#include "lines/line_classify.h"
#include "lines/printed_lines.h"
#include "lines/run_figures.h"
#include "report/log_text.h"

namespace corva::report {
namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kHalfDayMs = kDayMs / 2;
constexpr uint32_t kDisplaySuccessStatus = static_cast<uint32_t>(run::kStatusHdcpDisabled);
constexpr int64_t kFixedDisplaysOnWaitMs = run::kFixedDisplaysOnWaitMs;

double median(std::vector<double> values) {
    if (values.empty()) return -1.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// An upper-case word, a blank and a time: a marker this version does not know yet.
bool looksLikeMarker(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank < 3) return false;
    for (size_t i = 0; i < blank; ++i) {
        const char c = line[i];
        if (!((c >= 'A' && c <= 'Z') || c == '_' || (c >= '0' && c <= '9'))) return false;
    }
    return parseClock(line.substr(blank + 1)) >= 0;
}

bool containsWord(std::string_view line, std::string_view word) {
    return line.find(word) != std::string_view::npos;
}

}  // namespace

RunBuilder::RunBuilder(std::string_view source, size_t firstLine) {
    run_.source = source;
    run_.firstLine = firstLine;
    run_.lastLine = firstLine;
}

void RunBuilder::countUnrecognised() {
    ++run_.lines;
    ++run_.unrecognised;
}

int64_t RunBuilder::stamp(int64_t msOfDay) {
    if (lastRaw_ < 0) {
        lastRaw_ = msOfDay;
        lastMs_ = msOfDay;
        if (run_.firstMs == kNoTime) run_.firstMs = msOfDay;
        return lastMs_;
    }
    if (msOfDay + kHalfDayMs < lastRaw_) {
        dayOffset_ += kDayMs;  // past midnight
    } else if (msOfDay > lastRaw_ + kHalfDayMs) {
        // A line printed just before midnight by another thread, after one printed just past it.
        return msOfDay + dayOffset_ - kDayMs;
    }
    lastRaw_ = msOfDay;
    lastMs_ = std::max(lastMs_, msOfDay + dayOffset_);
    return msOfDay + dayOffset_;
}

Event& RunBuilder::event(EventKind kind, size_t line, int64_t ms) {
    Event e;
    e.kind = kind;
    e.timed = ms != kNoTime;
    e.ms = e.timed ? ms : lastMs_;
    e.line = line;
    e.cycle = run_.cycles.empty() ? 0 : run_.cycles.back().number;
    run_.events.push_back(e);
    return run_.events.back();
}

void RunBuilder::failure(FailureKind kind, std::string_view text, size_t line, std::string_view call,
                         uint32_t status, int sourceLine) {
    Failure f;
    f.kind = kind;
    f.outcome = entry_ != nullptr ? entry_->outcome : lines::Outcome::RunGoesOn;
    f.call = call;
    f.status = status;
    f.sourceLine = sourceLine;
    f.ms = lastMs_;
    f.line = line;
    f.text = text;
    run_.failures.push_back(std::move(f));
    event(EventKind::Failure, line).value = static_cast<double>(run_.failures.size() - 1);
}

Cycle* RunBuilder::current() {
    return run_.cycles.empty() ? nullptr : &run_.cycles.back();
}

bool RunBuilder::feed(const lines::ScannedLine& line, size_t number, int startStep) {
    if (line.entry == nullptr || line.text.empty()) return false;
    entry_ = line.entry;
    const bool known = read(line, number);
    entry_ = nullptr;
    if (!known) return false;
    ++run_.lines;
    run_.lastLine = number;
    furthest_ = std::max(furthest_, startStep > 0 ? startStep : line.entry->printedAnyTime ? 0 : 5);
    return true;
}

namespace {

template <typename Handled, size_t N>
constexpr bool oneHandlerPerLine(const Handled (&handlers)[N]) {
    if (N != lines::kLineCount) return false;
    for (size_t i = 0; i < N; ++i)
        if (static_cast<size_t>(handlers[i].id) != i) return false;
    return true;
}

}  // namespace

// Every line of the table is read by its handler: by its fields where the report uses them,
// else by its role and outcome alone (byRole). False when its fields say the program cannot
// have printed it.
bool RunBuilder::read(const lines::ScannedLine& line, size_t number) {
    using L = lines::LineId;
    struct Handled {
        L id;
        bool (RunBuilder::*read)(const lines::ScannedLine&, size_t);
    };
    // In table order, one per line: a line added to the table without its handler here stops
    // the build.
    static constexpr Handled kHandlers[] = {
        {L::Marker, &RunBuilder::marker},
        {L::ProxUp, &RunBuilder::proxUp},
        {L::ProxUnavailable, &RunBuilder::proxUnavailable},
        {L::Bypass, &RunBuilder::bypass},
        {L::BypassRestored, &RunBuilder::bypassRestored},
        {L::RunResult, &RunBuilder::runResult},
        {L::Status, &RunBuilder::statusLine},
        {L::DstatChange, &RunBuilder::dstatChange},
        {L::WakeLatency, &RunBuilder::wakeLatency},
        {L::WakeLatencyDiscarded, &RunBuilder::wakeLatencyDiscarded},
        {L::WakePhases, &RunBuilder::wakePhasesLine},
        {L::WakeCondition, &RunBuilder::wakeCondition},
        {L::RunCondition, &RunBuilder::runCondition},
        {L::TelemetryMsRefused, &RunBuilder::byRole},
        {L::AnotherRunHoldsTheHeadset, &RunBuilder::byRole},
        {L::LibrarySearchNotRestricted, &RunBuilder::byRole},
        {L::PressAKeyToClose, &RunBuilder::byRole},
        {L::TimerThrottlingOptOutRefused, &RunBuilder::byRole},
        {L::ThrottlingOptOutsRefused, &RunBuilder::byRole},
        {L::ConsoleHandlerMissing, &RunBuilder::byRole},
        {L::SessionEndWindowMissing, &RunBuilder::byRole},
        {L::Cycle, &RunBuilder::cycle},
        {L::CycleAbandoned, &RunBuilder::cycleAbandoned},
        {L::BenchNote, &RunBuilder::note},
        {L::BenchIncomplete, &RunBuilder::benchIncomplete},
        {L::McuNotFound, &RunBuilder::byRole},
        {L::McuTelemetry, &RunBuilder::mcuTelemetry},
        {L::McuReconnected, &RunBuilder::eventOnly},
        {L::McuBypassResent, &RunBuilder::mcuBypassResent},
        {L::McuIntervalOff, &RunBuilder::byRole},
        {L::McuInterfaceRefused, &RunBuilder::byRole},
        {L::McuInterfaceNotOpened, &RunBuilder::byRole},
        {L::McuReadFailed, &RunBuilder::mcuLost},
        {L::McuSilent, &RunBuilder::mcuLost},
        {L::DriverCallFailed, &RunBuilder::callFailed},
        {L::GraphicsCallFailed, &RunBuilder::callFailed},
        {L::DriverVersion, &RunBuilder::driverVersion},
        {L::ProfilePinned, &RunBuilder::byRole},
        {L::ProfileFailed, &RunBuilder::byRole},
        {L::EnableDirectMode, &RunBuilder::stepStatus},
        {L::NoDisplay, &RunBuilder::byRole},
        {L::DisplayId, &RunBuilder::byRole},
        {L::ModeListed, &RunBuilder::byRole},
        {L::NoModeMatches, &RunBuilder::byRole},
        {L::ModeFallback, &RunBuilder::byRole},
        {L::UsingMode, &RunBuilder::usingMode},
        {L::ForcingDsc, &RunBuilder::byRole},
        {L::NormalQueuePriority, &RunBuilder::byRole},
        {L::FenceEventNotCreated, &RunBuilder::byRole},
        {L::Acquire, &RunBuilder::stepStatus},
        {L::AcquireAbandoned, &RunBuilder::byRole},
        {L::Surface, &RunBuilder::byRole},
        {L::NoTypedView, &RunBuilder::byRole},
        {L::ViewFormat, &RunBuilder::byRole},
        {L::SetDisplayMode, &RunBuilder::stepStatus},
        {L::PowerOn, &RunBuilder::stepStatus},
        {L::Waitable, &RunBuilder::stepStatus},
        {L::PanelsOff, &RunBuilder::panelsOff},
        {L::PanelsOn, &RunBuilder::panelsOn},
        {L::DeviceRemoved, &RunBuilder::deviceRemoved},
        {L::DeviceRemovedParked, &RunBuilder::byRole},
        {L::WaitableDead, &RunBuilder::byRole},
        {L::WaitableWaitFailed, &RunBuilder::byRole},
        {L::PresentFailed, &RunBuilder::presentFailed},
        {L::PresentBudgetUsed, &RunBuilder::byRole},
        {L::FreeRunStart, &RunBuilder::freeRunStart},
        {L::FreeRunOver, &RunBuilder::freeRunOver},
        {L::PresentResult, &RunBuilder::presentResult},
        {L::PresentNote, &RunBuilder::presentNote},
        {L::TraceUnwritable, &RunBuilder::byRole},
        {L::LinesDropped, &RunBuilder::note},
        {L::StdoutReaderGone, &RunBuilder::byRole},
        {L::OutputLost, &RunBuilder::byRole},
    };
    static_assert(oneHandlerPerLine(kHandlers),
                  "every line of the table has one handler here, in table order");
    return (this->*kHandlers[static_cast<size_t>(line.entry->id)].read)(line, number);
}

// A failure of the kind its entry says; any other line is taken as read.
bool RunBuilder::byRole(const lines::ScannedLine& line, size_t number) {
    if (line.entry->role == lines::Role::Failure)
        failure(line.entry->failure, line.text, number);
    else
        ++run_.otherRecognised;
    return true;
}

// The line's event, nothing else.
bool RunBuilder::eventOnly(const lines::ScannedLine& line, size_t number) {
    event(line.entry->event, number);
    return true;
}

// A note on the run's time line: the line itself.
bool RunBuilder::note(const lines::ScannedLine& line, size_t number) {
    event(line.entry->event, number).text = line.text;
    return true;
}

bool RunBuilder::presentNote(const lines::ScannedLine& line, size_t number) {
    ++run_.otherRecognised;
    return note(line, number);
}

bool RunBuilder::marker(const lines::ScannedLine& scanned, size_t number) {
    const std::string_view line = scanned.text;
    // Marker names are upper-case words (see looksLikeMarker): the quick answer for the rest.
    if (line.front() < 'A' || line.front() > 'Z') return false;
    std::string_view name;
    const lines::Skip skip;
    if (!scanned.read(lines::kMarker, name, skip, skip, skip, skip)) return false;
    if (const lines::MarkerLine* m = lines::markerNamed(name)) {
        const int64_t clock = parseClock(line.substr(name.size() + 1));
        if (clock < 0) return false;
        const int64_t ms = stamp(clock);
        event(m->event, number, ms);
        Cycle* c = current();
        switch (m->event) {
            case EventKind::InitStart:
                run_.initStartMs = ms;
                break;
            case EventKind::InitDone:
                run_.initDoneMs = ms;
                break;
            case EventKind::FirstDraw:
                run_.firstDrawMs = ms;
                break;
            case EventKind::BenchEnd:
                run_.benchEndSeen = true;
                run_.benchEndMs = ms;
                break;
            case EventKind::ParkRequest:
            case EventKind::DozeSleepRequest:
                run_.mode = m->event == EventKind::ParkRequest ? RunMode::Cycle : RunMode::Doze;
                if (c && c->downRequestMs == kNoTime) c->downRequestMs = ms;
                break;
            case EventKind::ParkDone:
            case EventKind::DozeAsleep:
                if (c && c->downDoneMs == kNoTime) {
                    c->downDoneMs = ms;
                    c->downDoneAfterEnd = run_.benchEndSeen;
                }
                break;
            case EventKind::WakeRequest:
                if (c && c->wakeRequestMs == kNoTime) {
                    c->wakeRequestMs = ms;
                    pendingLatency_ = pendingOn_ = static_cast<int>(run_.cycles.size()) - 1;
                }
                break;
            default:
                break;
        }
        return true;
    }
    if (!looksLikeMarker(line)) return false;
    // A marker of a newer version: kept as a note on the run's timeline.
    event(EventKind::RunNote, number, stamp(parseClock(line.substr(line.find(' ') + 1)))).text = line;
    ++run_.otherRecognised;
    ++run_.newerMarkers;
    return true;
}

bool RunBuilder::cycle(const lines::ScannedLine& line, size_t number) {
    Cycle c;
    if (!line.read(lines::kCycle, c.number, c.total)) return false;
    c.line = number;
    c.startMs = lastMs_;
    run_.cycleCount = c.total;
    run_.cycles.push_back(c);
    event(EventKind::CycleStart, number);
    return true;
}

bool RunBuilder::cycleAbandoned(const lines::ScannedLine& line, size_t number) {
    int n = 0;
    int total = 0;
    std::string_view reason;
    if (!line.read(lines::kCycleAbandoned, n, total, reason)) return false;
    for (size_t i = run_.cycles.size(); i-- > 0;) {
        if (run_.cycles[i].number != n) continue;
        run_.cycles[i].outcome = CycleOutcome::Abandoned;
        run_.cycles[i].note = reason;
        if (pendingLatency_ == static_cast<int>(i)) pendingLatency_ = -1;
        if (pendingOn_ == static_cast<int>(i)) pendingOn_ = -1;
        break;
    }
    Event& e = event(EventKind::CycleAbandoned, number);
    e.cycle = n;
    e.text = reason;
    return true;
}

bool RunBuilder::benchIncomplete(const lines::ScannedLine& line, size_t number) {
    run_.endedEarly = true;
    run_.endNote = line.text.substr(lines::kBenchIncomplete.prefix().size());
    int completed = 0, of = 0, abandoned = 0;
    const lines::Skip skip;
    if (line.read(lines::kBenchIncomplete, completed, of, abandoned, skip, skip)) {
        run_.saidCompleted = completed;
        run_.saidOf = of;
        run_.saidAbandoned = abandoned;
    }
    return note(line, number);
}

bool RunBuilder::wakeLatencyDiscarded(const lines::ScannedLine& line, size_t number) {
    Event& e = event(EventKind::RunNote, number);
    e.text = line.text;
    if (pendingLatency_ >= 0) {
        Cycle& c = run_.cycles[static_cast<size_t>(pendingLatency_)];
        c.latencyDiscarded = true;
        c.note = line.text.substr(lines::kWakeLatencyDiscarded.prefix().size());
        e.cycle = c.number;
        pendingLatency_ = -1;
    }
    return true;
}

bool RunBuilder::wakeLatency(const lines::ScannedLine& line, size_t number) {
    double ms = 0.0;
    if (!line.read(lines::kWakeLatency, ms)) return false;
    Event& e = event(EventKind::WakeLatency, number);
    e.value = ms;
    timedCycle_ = pendingLatency_;
    if (pendingLatency_ >= 0) {
        run_.cycles[static_cast<size_t>(pendingLatency_)].wakeLatencyMs = ms;
        e.cycle = run_.cycles[static_cast<size_t>(pendingLatency_)].number;
        pendingLatency_ = -1;
    } else {
        e.cycle = 0;
        ++run_.orphanLatencies;
    }
    return true;
}

// The phases follow their wake's latency line; a step not taken reads as -1.
bool RunBuilder::wakePhasesLine(const lines::ScannedLine& line, size_t number) {
    lines::OptionalMs react, mode, power, vblank;
    lines::OptionalMsInterval on;
    if (!line.read(lines::kWakePhases, react, mode, power, vblank, on)) return false;
    auto ms = [](const lines::OptionalMs& step) { return step.present ? step.ms : -1.0; };
    WakePhases phases;
    phases.seen = true;
    phases.reactMs = ms(react);
    phases.modeMs = ms(mode);
    phases.powerMs = ms(power);
    phases.vblankMs = ms(vblank);
    phases.interval = on.present;
    phases.onLoMs = on.lo;
    phases.onHiMs = on.hi;
    Event& e = event(EventKind::WakePhases, number);
    e.value = phases.interval ? (phases.onLoMs + phases.onHiMs) / 2.0 : -1.0;
    e.cycle = 0;
    if (timedCycle_ >= 0) {
        Cycle& c = run_.cycles[static_cast<size_t>(timedCycle_)];
        if (!c.phases.seen) c.phases = phases;
        e.cycle = c.number;
        phasedCycle_ = timedCycle_;
        timedCycle_ = -1;
    }
    return true;
}

// A condition that failed around the wake whose phases came last.
bool RunBuilder::wakeCondition(const lines::ScannedLine& line, size_t) {
    std::string_view name;
    double figureMs = 0.0, limitMs = 0.0;
    if (!line.read(lines::kWakeCondition, name, figureMs, limitMs)) return false;
    if (phasedCycle_ >= 0) {
        std::string& failed = run_.cycles[static_cast<size_t>(phasedCycle_)].failedConditions;
        if (!failed.empty()) failed += ", ";
        failed += name;
    }
    return true;
}

bool RunBuilder::runCondition(const lines::ScannedLine& line, size_t) {
    std::string_view name, figures, verdict, limit;
    if (!line.read(lines::kRunCondition, name, figures, verdict, limit)) return false;
    run_.conditions.push_back(
        {std::string(name), std::string(figures), std::string(verdict), std::string(limit)});
    return true;
}

bool RunBuilder::dstatChange(const lines::ScannedLine& scanned, size_t number) {
    const std::string_view line = scanned.text;
    uint16_t from = 0;
    uint16_t to = 0;
    unsigned h = 0, m = 0, sec = 0, milli = 0;
    const lines::Skip skip;
    if (!scanned.read(lines::kDstatChange, from, to, skip, skip, h, m, sec, milli)) return false;
    // The time stamp ends the line: read it as every other one is read.
    const int64_t clock = parseClock(line.substr(line.size() < 12 ? 0 : line.size() - 12));
    if (clock < 0) return false;
    const int64_t ms = stamp(clock);
    Event& e = event(EventKind::DstatChange, number, ms);
    e.dstatFrom = from;
    e.dstatTo = to;
    const bool wasOn = from & 1;
    const bool isOn = to & 1;
    Cycle* c = current();
    if (wasOn && !isOn && c && c->downRequestMs != kNoTime && c->displaysOffMs == kNoTime &&
        c->wakeRequestMs == kNoTime) {
        c->displaysOffMs = ms;
    }
    if (!wasOn && isOn) {
        if (pendingOn_ >= 0) {
            run_.cycles[static_cast<size_t>(pendingOn_)].displaysOnMs = ms;
            pendingOn_ = -1;
        } else if (run_.cycles.empty() && coldOnMs_ == kNoTime) {
            coldOnMs_ = ms;
        }
    }
    return true;
}

bool RunBuilder::statusLine(const lines::ScannedLine& scanned, size_t number) {
    const std::string_view line = scanned.text;
    StatusSample s;
    std::string_view prox;
    std::string_view suffix;
    unsigned h = 0, m = 0, sec = 0, milli = 0;
    const lines::Skip skip;
    if (!scanned.read(lines::kStatus, h, m, sec, milli, s.fps, prox, s.distance, s.dstat, skip, skip, skip,
                      suffix))
        return false;
    const int64_t clock = parseClock(line.substr(line.find_first_not_of(' ')));
    // The program prints frames per second as a count over a second: never negative.
    if (clock < 0 || !(s.fps >= 0.0)) return false;
    s.ms = stamp(clock);
    s.prox = prox == lines::kWorn   ? ProxState::Worn
             : prox == lines::kAway ? ProxState::Away
                                    : ProxState::NotAvailable;
    s.freeRun = containsWord(suffix, lines::kFreeRunWord);
    s.line = number;
    if (s.freeRun && !freeRunOpen_) openFreeRun(s.ms, number);
    if (!s.freeRun && freeRunOpen_) closeFreeRun(s.ms, number);
    s.partial = run_.benchEndSeen;
    run_.status.push_back(s);
    return true;
}

void RunBuilder::openFreeRun(int64_t ms, size_t line) {
    FreeRunPeriod p;
    p.startMs = ms == kNoTime ? lastMs_ : ms;
    p.line = line;
    run_.freeRuns.push_back(p);
    freeRunOpen_ = true;
    event(EventKind::FreeRunStart, line, ms);
}

void RunBuilder::closeFreeRun(int64_t ms, size_t line) {
    // Local time may step back (a clock change) while a period is open: it then ends where
    // it began rather than before.
    const int64_t end = ms == kNoTime ? lastMs_ : ms;
    if (!run_.freeRuns.empty()) run_.freeRuns.back().endMs = std::max(end, run_.freeRuns.back().startMs);
    freeRunOpen_ = false;
    event(EventKind::FreeRunEnd, line, ms);
}

bool RunBuilder::proxUp(const lines::ScannedLine& line, size_t) {
    run_.proxSeen = run_.proxUp = true;
    std::string_view state;
    line.read(lines::kProxUp, state, run_.distanceAtStart);
    run_.proxAtStart = state == lines::kWorn ? ProxState::Worn : ProxState::Away;
    return true;
}

bool RunBuilder::proxUnavailable(const lines::ScannedLine&, size_t) {
    run_.proxSeen = true;
    run_.proxUp = false;
    return true;
}

bool RunBuilder::bypassRestored(const lines::ScannedLine& line, size_t) {
    std::string_view said;
    if (!line.read(lines::kBypassRestored, said)) return false;
    run_.bypassRestored = said == lines::kRestoredOk ? 1 : said.starts_with(lines::kNotConfirmedWord) ? 2 : 0;
    return true;
}

bool RunBuilder::bypass(const lines::ScannedLine& line, size_t) {
    std::string_view said;
    if (!line.read(lines::kBypass, said)) return false;
    run_.bypassOn = said == lines::kBypassOn || said == lines::kBypassNotConfirmed;
    run_.bypassConfirmed = said == lines::kBypassOn;
    return true;
}

bool RunBuilder::mcuTelemetry(const lines::ScannedLine& line, size_t) {
    std::string_view firmware;
    std::string_view doze;
    const lines::Skip skip;
    if (!line.read(lines::kMcuTelemetry, run_.telemetryMs, skip, skip, firmware, doze)) return false;
    run_.firmware = firmware;
    run_.dozeCapable = doze == lines::kDozeCapable;
    return true;
}

bool RunBuilder::mcuBypassResent(const lines::ScannedLine& line, size_t number) {
    std::string_view said;
    if (!line.read(lines::kMcuBypassResent, said)) return false;
    if (said != lines::kResentOk) failure(line.entry->failure, line.text, number);
    return true;
}

// The link lost: a failure, and the loss on the run's time line.
bool RunBuilder::mcuLost(const lines::ScannedLine& line, size_t number) {
    uint32_t error = 0;  // the system's error code of the failed read
    line.read(lines::kMcuReadFailed, error);
    failure(line.entry->failure, line.text, number, {}, error);
    event(line.entry->event, number);
    return true;
}

bool RunBuilder::freeRunStart(const lines::ScannedLine&, size_t number) {
    if (!freeRunOpen_) openFreeRun(kNoTime, number);
    return true;
}

bool RunBuilder::freeRunOver(const lines::ScannedLine&, size_t number) {
    if (freeRunOpen_) closeFreeRun(kNoTime, number);
    return true;
}

bool RunBuilder::driverVersion(const lines::ScannedLine& line, size_t) {
    run_.driverVersion = line.text.substr(lines::kDriverVersion.prefix().size());
    return true;
}

bool RunBuilder::usingMode(const lines::ScannedLine& line, size_t) {
    run_.modeText = line.text.substr(lines::kUsingMode.prefix().size());
    const lines::Skip skip;
    line.read(lines::kUsingMode, skip, skip, run_.refreshHz, skip);
    return true;
}

bool RunBuilder::presentFailed(const lines::ScannedLine& line, size_t number) {
    uint32_t status = 0;
    const lines::Skip skip;
    if (!line.read(lines::kPresentFailed, status, skip)) return false;
    failure(line.entry->failure, line.text, number, "Present12", status);
    return true;
}

bool RunBuilder::panelsOff(const lines::ScannedLine& line, size_t number) {
    uint32_t status = 0;
    line.read(lines::kPanelsOff, status);
    event(line.entry->event, number);
    if (status != 0) failure(FailureKind::Driver, line.text, number, "panels OFF", status);
    return true;
}

bool RunBuilder::panelsOn(const lines::ScannedLine& line, size_t number) {
    uint32_t mode = 0;
    uint32_t power = 0;
    line.read(lines::kPanelsOn, mode, power);
    event(line.entry->event, number);
    if (mode != 0 || power != 0) failure(FailureKind::Driver, line.text, number, "panels ON", mode | power);
    return true;
}

bool RunBuilder::deviceRemoved(const lines::ScannedLine& line, size_t number) {
    uint32_t status = 0;
    line.read(lines::kDeviceRemoved, status);
    failure(line.entry->failure, line.text, number, {}, status);
    return true;
}

// "<call> = 0x<status> (line N)", of driver and graphics calls alike: the bring-up calls say
// which kind the call is.
bool RunBuilder::callFailed(const lines::ScannedLine& line, size_t number) {
    std::string_view call;
    uint32_t status = 0;
    int site = -1;
    if (!line.read(lines::kDriverCallFailed, call, status, site)) return false;
    const BringUpCallSite* known = bringUpCallNamed(call, site);
    const bool graphics = known != nullptr && known->kind == CallKind::Graphics;
    failure(graphics ? FailureKind::Graphics : FailureKind::Driver, line.text, number, call, status, site);
    return true;
}

// A bring-up step's status (the field its entry names): other than 0 (or "HDCP disabled"), a
// failure.
bool RunBuilder::stepStatus(const lines::ScannedLine& line, size_t number) {
    const int field = line.entry->statusField;
    uint32_t status = 0;
    if (field < 0 || !lines::detail::assign(status, line.fields[field])) return false;
    if (status != 0 && status != kDisplaySuccessStatus) {
        const std::string_view call = line.text.substr(0, line.text.find(" = "));
        failure(line.entry->failure, line.text, number, call, status);
    }
    return true;
}

bool RunBuilder::presentResult(const lines::ScannedLine& line, size_t) {
    RunResult& r = run_.result;
    if (!line.read(lines::kPresentResult, r.frames, r.seconds, r.averageFps, r.presentErrors, r.waitTimeouts,
                   r.freeRunEvents))
        return false;
    r.presentSeen = true;
    ++r.presentLines;
    return true;
}

bool RunBuilder::runResult(const lines::ScannedLine& line, size_t number) {
    RunResult& r = run_.result;
    const RunResult before = r;  // the PRESENT RESULT line's counts, if it came
    int lost = 0;
    if (!line.read(lines::kRunResult, r.frames, r.presentErrors, r.freeRunEvents, lost)) return false;
    r.displayLost = lost != 0;
    r.seen = true;
    r.countersAgree =
        !before.presentSeen || (before.frames == r.frames && before.presentErrors == r.presentErrors &&
                                before.freeRunEvents == r.freeRunEvents);
    event(line.entry->event, number);
    return true;
}

void RunBuilder::settleOutcomes() {
    const bool stopped = run_.benchEndSeen || run_.result.seen;
    for (size_t i = 0; i < run_.cycles.size(); ++i) {
        Cycle& c = run_.cycles[i];
        if (c.outcome == CycleOutcome::Abandoned) {
            // said so by the program
        } else if (c.wakeLatencyMs >= 0.0) {
            c.outcome = CycleOutcome::Measured;
        } else if (c.latencyDiscarded) {
            c.outcome = CycleOutcome::Discarded;
        } else if (run_.proxSeen && !run_.proxUp) {
            c.outcome = CycleOutcome::NoTelemetry;
        } else if (i + 1 < run_.cycles.size()) {
            c.outcome = CycleOutcome::LatencyMissing;
        } else {
            c.outcome = stopped ? CycleOutcome::Interrupted : CycleOutcome::LogCut;
        }
    }
}

// A wake figure rests on the conditions of its run and on those around its wake: one that
// failed marks it.
void RunBuilder::settleConditions() {
    std::string runFailed;
    for (const RunCondition& c : run_.conditions)
        if (c.verdict == lines::kFailed) runFailed += (runFailed.empty() ? "" : ", ") + c.name;
    for (Cycle& c : run_.cycles) {
        if (c.wakeLatencyMs < 0.0 && !c.phases.seen) continue;
        if (!runFailed.empty()) c.failedConditions += (c.failedConditions.empty() ? "" : ", ") + runFailed;
        c.underFailedCondition = !c.failedConditions.empty();
        c.keptOut = c.underFailedCondition;  // unless the user asks (--include-failed-conditions)
    }
}

void RunBuilder::inferSettings() {
    std::vector<double> holds;
    std::vector<double> actives;
    int64_t previousOn =
        run_.proxUp ? coldOnMs_
                    : (run_.initDoneMs == kNoTime ? kNoTime : run_.initDoneMs + kFixedDisplaysOnWaitMs);
    for (const Cycle& c : run_.cycles) {
        if (c.downDoneMs != kNoTime && c.wakeRequestMs != kNoTime && !c.downDoneAfterEnd)
            holds.push_back(static_cast<double>(c.wakeRequestMs - c.downDoneMs) / 1000.0);
        if (previousOn != kNoTime && c.downRequestMs != kNoTime)
            actives.push_back(static_cast<double>(c.downRequestMs - previousOn) / 1000.0);
        previousOn = run_.proxUp
                         ? c.displaysOnMs
                         : (c.wakeRequestMs == kNoTime ? kNoTime : c.wakeRequestMs + kFixedDisplaysOnWaitMs);
    }
    auto rounded = [](double s) { return s < 0 ? s : std::round(s * 100.0) / 100.0; };
    run_.holdSeconds = rounded(median(holds));
    run_.activeSeconds = rounded(median(actives));
}

RunEnd runEndOf(const LoggedRun& run) {
    if (run.result.seen) return RunEnd::Completed;
    const bool bringUpFailed = std::any_of(run.failures.begin(), run.failures.end(), [](const Failure& f) {
        return f.outcome == lines::Outcome::InitFailed;
    });
    return run.initStartMs != kNoTime && run.initDoneMs == kNoTime && bringUpFailed ? RunEnd::InitFailed
                                                                                    : RunEnd::LogCut;
}

LoggedRun RunBuilder::finish() {
    run_.end = runEndOf(run_);
    if (run_.mode == RunMode::Unknown) {
        if (!run_.cycles.empty()) {
            run_.mode = RunMode::Benchmark;
        } else if (run_.initDoneMs != kNoTime && (run_.benchEndSeen || run_.result.seen)) {
            run_.mode = RunMode::Plain;
        }
    }
    settleOutcomes();
    settleConditions();
    inferSettings();
    run_.lastMs = lastMs_;
    return std::move(run_);
}

}  // namespace corva::report
