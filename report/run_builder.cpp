#include "report/run_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/run_figures.h"
#include "present/bring_up_calls.h"
#include "report/log_text.h"

namespace corva::report {
namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kHalfDayMs = kDayMs / 2;
constexpr uint32_t kDisplaySuccessStatus = static_cast<uint32_t>(run::kStatusHdcpDisabled);
constexpr int64_t kFixedDisplaysOnWaitMs = run::kFixedDisplaysOnWaitMs;

struct MarkerName {
    std::string_view name;
    EventKind kind;
};
constexpr std::array kMarkers{
    MarkerName{lines::kInitStart, EventKind::InitStart},
    MarkerName{lines::kInitDone, EventKind::InitDone},
    MarkerName{lines::kFirstDraw, EventKind::FirstDraw},
    MarkerName{lines::kParkRequest, EventKind::ParkRequest},
    MarkerName{lines::kParkDone, EventKind::ParkDone},
    MarkerName{lines::kDozeSleepRequest, EventKind::DozeSleepRequest},
    MarkerName{lines::kDozeAsleep, EventKind::DozeAsleep},
    MarkerName{lines::kWakeRequest, EventKind::WakeRequest},
    MarkerName{lines::kBenchEnd, EventKind::BenchEnd},
};

// The status a bring-up step printed.
bool bringUpStepStatus(lines::LineId id, std::string_view line, uint32_t& status) {
    using namespace lines;
    const Skip skip;
    switch (id) {
        case LineId::Acquire:
            return scan(kAcquire, line, status, skip);
        case LineId::SetDisplayMode:
            return scan(kSetDisplayMode, line, status);
        case LineId::PowerOn:
            return scan(kPowerOn, line, status);
        case LineId::Waitable:
            return scan(kWaitable, line, status);
        case LineId::EnableDirectMode:
            return scan(kEnableDirectMode, line, skip, status);
        default:
            return false;
    }
}

// The link's own lines (standard error, its reader thread) and the display-status
// monitor's may come before the start sequence is through: they do not end it.
bool printedAnyTime(lines::LineId id) {
    using lines::LineId;
    switch (id) {
        case LineId::DstatChange:
        case LineId::McuNotFound:
        case LineId::McuTelemetry:
        case LineId::McuReconnected:
        case LineId::McuBypassResent:
        case LineId::McuIntervalOff:
        case LineId::McuInterfaceRefused:
        case LineId::McuReadFailed:
        case LineId::McuSilent:
            return true;
        default:
            return false;
    }
}

// A failure line's kind in the report: the microcontroller's and the presents' by their
// lines, the rest by what they imply for the run.
FailureKind failureKindOf(const lines::PrintedLine& entry) {
    using lines::LineId;
    switch (entry.id) {
        case LineId::McuNotFound:
        case LineId::McuBypassResent:
        case LineId::McuReadFailed:
        case LineId::McuSilent:
            return FailureKind::Mcu;
        case LineId::PresentFailed:
        case LineId::PresentBudgetUsed:
            return FailureKind::Present;
        default:
            break;
    }
    if (entry.role == lines::Role::Status) return FailureKind::Driver;
    switch (entry.outcome) {
        case lines::Outcome::InitFailed:
            return FailureKind::Init;
        case lines::Outcome::DisplayLost:
            return FailureKind::DisplayLost;
        default:
            return FailureKind::Other;
    }
}

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

bool RunBuilder::feed(const lines::PrintedLine* entry, std::string_view line, size_t number, int startStep) {
    if (entry == nullptr || line.empty()) return false;
    entry_ = entry;
    const bool known = read(*entry, line, number);
    entry_ = nullptr;
    if (!known) return false;
    ++run_.lines;
    run_.lastLine = number;
    furthest_ = std::max(furthest_, startStep > 0 ? startStep : printedAnyTime(entry->id) ? 0 : 5);
    return true;
}

// Every line of the table is read here: by its fields where the report uses them, else by
// its role and outcome alone. False when its fields say the program cannot have printed it.
bool RunBuilder::read(const lines::PrintedLine& entry, std::string_view line, size_t number) {
    using lines::LineId;
    switch (entry.id) {
        case LineId::Marker:
            return marker(line, number);
        case LineId::Status:
            return statusLine(line, number);
        case LineId::DstatChange:
            return dstatChange(line, number);
        case LineId::WakePhases:
            return wakePhasesLine(line, number);
        case LineId::Cycle:
        case LineId::CycleAbandoned:
        case LineId::BenchIncomplete:
        case LineId::WakeLatency:
        case LineId::WakeLatencyDiscarded:
            return benchmarkLine(entry.id, line, number);
        case LineId::RunResult:
        case LineId::PresentResult:
            return resultLine(entry.id, line, number);
        case LineId::ProxUp:
        case LineId::ProxUnavailable:
        case LineId::Bypass:
        case LineId::BypassRestored:
        case LineId::McuTelemetry:
        case LineId::McuReconnected:
        case LineId::McuBypassResent:
            return linkLine(entry.id, line, number);
        case LineId::McuReadFailed:
        case LineId::McuSilent: {
            uint32_t error = 0;  // the system's error code of the failed read
            lines::scan(lines::kMcuReadFailed, line, error);
            failure(FailureKind::Mcu, line, number, {}, error);
            event(EventKind::McuLost, number);
            return true;
        }
        case LineId::FreeRunStart:
            if (!freeRunOpen_) openFreeRun(kNoTime, number);
            return true;
        case LineId::FreeRunOver:
            if (freeRunOpen_) closeFreeRun(kNoTime, number);
            return true;
        case LineId::PanelsOff:
        case LineId::PanelsOn:
        case LineId::PresentFailed:
        case LineId::DeviceRemoved:
            return presentLoopLine(entry.id, line, number);
        case LineId::DriverCallFailed:
        case LineId::GraphicsCallFailed:
            return callFailed(line, number);
        case LineId::EnableDirectMode:
        case LineId::Acquire:
        case LineId::SetDisplayMode:
        case LineId::PowerOn:
        case LineId::Waitable:
            return stepStatus(entry.id, line, number);
        case LineId::DriverVersion:
            run_.driverVersion = line.substr(lines::kDriverVersion.prefix().size());
            return true;
        case LineId::UsingMode: {
            run_.modeText = line.substr(lines::kUsingMode.prefix().size());
            const lines::Skip skip;
            lines::scan(lines::kUsingMode, line, skip, skip, run_.refreshHz, skip);
            return true;
        }
        case LineId::BenchNote:
        case LineId::LinesDropped:
            event(EventKind::RunNote, number).text = line;
            return true;
        case LineId::PresentNote:
            event(EventKind::RunNote, number).text = line;
            ++run_.otherRecognised;
            return true;
        // Read by role and outcome alone; so is a line added to the table without a case here.
        default:
        case LineId::TelemetryMsRefused:
        case LineId::McuNotFound:
        case LineId::McuIntervalOff:
        case LineId::McuInterfaceRefused:
        case LineId::ProfilePinned:
        case LineId::ProfileFailed:
        case LineId::NoDisplay:
        case LineId::DisplayId:
        case LineId::ModeListed:
        case LineId::NoModeMatches:
        case LineId::ModeFallback:
        case LineId::ForcingDsc:
        case LineId::NormalQueuePriority:
        case LineId::FenceEventNotCreated:
        case LineId::AcquireAbandoned:
        case LineId::Surface:
        case LineId::NoTypedView:
        case LineId::ViewFormat:
        case LineId::DeviceRemovedParked:
        case LineId::WaitableDead:
        case LineId::WaitableWaitFailed:
        case LineId::PresentBudgetUsed:
        case LineId::TraceUnwritable:
        case LineId::StdoutReaderGone:
        case LineId::OutputLost:
        case LineId::AnotherRunHoldsTheHeadset:
        case LineId::LibrarySearchNotRestricted:
        case LineId::PressAKeyToClose:
            return byRole(entry, line, number);
    }
    return false;
}

// A failure by its outcome; any other line is taken as read.
bool RunBuilder::byRole(const lines::PrintedLine& entry, std::string_view line, size_t number) {
    if (entry.role == lines::Role::Failure)
        failure(failureKindOf(entry), line, number);
    else
        ++run_.otherRecognised;
    return true;
}

bool RunBuilder::marker(std::string_view line, size_t number) {
    // Marker names are upper-case words (see looksLikeMarker): the quick answer for the rest.
    if (line.front() < 'A' || line.front() > 'Z') return false;
    std::string_view name;
    const lines::Skip skip;
    if (!lines::scan(lines::kMarker, line, name, skip, skip, skip, skip)) return false;
    for (const MarkerName& m : kMarkers) {
        if (name != m.name) continue;
        const int64_t clock = parseClock(line.substr(name.size() + 1));
        if (clock < 0) return false;
        const int64_t ms = stamp(clock);
        event(m.kind, number, ms);
        Cycle* c = current();
        switch (m.kind) {
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
                run_.mode = m.kind == EventKind::ParkRequest ? RunMode::Cycle : RunMode::Doze;
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

bool RunBuilder::benchmarkLine(lines::LineId id, std::string_view line, size_t number) {
    using lines::LineId;
    int n = 0;
    int total = 0;
    std::string_view reason;
    switch (id) {
        case LineId::Cycle: {
            Cycle c;
            if (!lines::scan(lines::kCycle, line, c.number, c.total)) return false;
            c.line = number;
            c.startMs = lastMs_;
            run_.cycleCount = c.total;
            run_.cycles.push_back(c);
            event(EventKind::CycleStart, number);
            return true;
        }
        case LineId::CycleAbandoned: {
            if (!lines::scan(lines::kCycleAbandoned, line, n, total, reason)) return false;
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
        case LineId::BenchIncomplete: {
            run_.endedEarly = true;
            run_.endNote = line.substr(lines::kBenchIncomplete.prefix().size());
            int completed = 0, of = 0, abandoned = 0;
            const lines::Skip skip;
            if (lines::scan(lines::kBenchIncomplete, line, completed, of, abandoned, skip, skip)) {
                run_.saidCompleted = completed;
                run_.saidOf = of;
                run_.saidAbandoned = abandoned;
            }
            event(EventKind::RunNote, number).text = line;
            return true;
        }
        case LineId::WakeLatencyDiscarded: {
            Event& e = event(EventKind::RunNote, number);
            e.text = line;
            if (pendingLatency_ >= 0) {
                Cycle& c = run_.cycles[static_cast<size_t>(pendingLatency_)];
                c.latencyDiscarded = true;
                c.note = line.substr(lines::kWakeLatencyDiscarded.prefix().size());
                e.cycle = c.number;
                pendingLatency_ = -1;
            }
            return true;
        }
        case LineId::WakeLatency: {
            double ms = 0.0;
            if (!lines::scan(lines::kWakeLatency, line, ms)) return false;
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
        default:
            return false;
    }
}

// The phases follow their wake's latency line; a step not taken reads as -1.
bool RunBuilder::wakePhasesLine(std::string_view line, size_t number) {
    lines::OptionalMs react, mode, power, vblank;
    lines::OptionalMsInterval on;
    if (!lines::scan(lines::kWakePhases, line, react, mode, power, vblank, on)) return false;
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
        timedCycle_ = -1;
    }
    return true;
}

bool RunBuilder::dstatChange(std::string_view line, size_t number) {
    uint16_t from = 0;
    uint16_t to = 0;
    unsigned h = 0, m = 0, sec = 0, milli = 0;
    const lines::Skip skip;
    if (!lines::scan(lines::kDstatChange, line, from, to, skip, skip, h, m, sec, milli)) return false;
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

bool RunBuilder::statusLine(std::string_view line, size_t number) {
    StatusSample s;
    std::string_view prox;
    std::string_view suffix;
    unsigned h = 0, m = 0, sec = 0, milli = 0;
    const lines::Skip skip;
    if (!lines::scan(lines::kStatus, line, h, m, sec, milli, s.fps, prox, s.distance, s.dstat, skip, skip,
                     skip, suffix))
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

// ms is kNoTime for the untimed warning lines: the period then starts at the last time stamp.
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

bool RunBuilder::linkLine(lines::LineId id, std::string_view line, size_t number) {
    using lines::LineId;
    std::string_view said;
    switch (id) {
        case LineId::ProxUp: {
            run_.proxSeen = run_.proxUp = true;
            std::string_view state;
            lines::scan(lines::kProxUp, line, state, run_.distanceAtStart);
            run_.proxAtStart = state == lines::kWorn ? ProxState::Worn : ProxState::Away;
            return true;
        }
        case LineId::ProxUnavailable:
            run_.proxSeen = true;
            run_.proxUp = false;
            return true;
        case LineId::BypassRestored:
            if (!lines::scan(lines::kBypassRestored, line, said)) return false;
            run_.bypassRestored = said == lines::kRestoredOk                   ? 1
                                  : said.starts_with(lines::kNotConfirmedWord) ? 2
                                                                               : 0;
            return true;
        case LineId::Bypass:
            if (!lines::scan(lines::kBypass, line, said)) return false;
            run_.bypassOn = said == lines::kBypassOn || said == lines::kBypassNotConfirmed;
            run_.bypassConfirmed = said == lines::kBypassOn;
            return true;
        case LineId::McuTelemetry: {
            std::string_view firmware;
            std::string_view doze;
            const lines::Skip skip;
            if (!lines::scan(lines::kMcuTelemetry, line, run_.telemetryMs, skip, skip, firmware, doze))
                return false;
            run_.firmware = firmware;
            run_.dozeCapable = doze == lines::kDozeCapable;
            return true;
        }
        case LineId::McuReconnected:
            event(EventKind::McuReconnected, number);
            return true;
        case LineId::McuBypassResent:
            if (!lines::scan(lines::kMcuBypassResent, line, said)) return false;
            if (said != lines::kResentOk) failure(FailureKind::Mcu, line, number);
            return true;
        default:
            return false;
    }
}

bool RunBuilder::presentLoopLine(lines::LineId id, std::string_view line, size_t number) {
    using namespace lines;
    const Skip skip;
    uint32_t status = 0;
    switch (id) {
        case LineId::PresentFailed:
            if (!scan(kPresentFailed, line, status, skip)) return false;
            failure(FailureKind::Present, line, number, "Present12", status);
            return true;
        case LineId::PanelsOff:
            scan(kPanelsOff, line, status);
            event(EventKind::PanelsOff, number);
            if (status != 0) failure(FailureKind::Driver, line, number, "panels OFF", status);
            return true;
        case LineId::PanelsOn: {
            uint32_t mode = 0;
            uint32_t power = 0;
            scan(kPanelsOn, line, mode, power);
            event(EventKind::PanelsOn, number);
            if (mode != 0 || power != 0)
                failure(FailureKind::Driver, line, number, "panels ON", mode | power);
            return true;
        }
        case LineId::DeviceRemoved:
            scan(kDeviceRemoved, line, status);
            failure(FailureKind::DisplayLost, line, number, {}, status);
            return true;
        default:
            return false;
    }
}

// "<call> = 0x<status> (line N)", of driver and graphics calls alike: the bring-up calls say
// which kind the call is.
bool RunBuilder::callFailed(std::string_view line, size_t number) {
    std::string_view call;
    uint32_t status = 0;
    int site = -1;
    if (!lines::scan(lines::kDriverCallFailed, line, call, status, site)) return false;
    const BringUpCallSite* known = bringUpCallNamed(call, site);
    const bool graphics = known != nullptr && known->kind == CallKind::Graphics;
    failure(graphics ? FailureKind::Graphics : FailureKind::Driver, line, number, call, status, site);
    return true;
}

// A bring-up step's status: other than 0 (or "HDCP disabled"), a failure.
bool RunBuilder::stepStatus(lines::LineId id, std::string_view line, size_t number) {
    uint32_t status = 0;
    if (!bringUpStepStatus(id, line, status)) return false;
    if (status != 0 && status != kDisplaySuccessStatus) {
        const std::string_view call = line.substr(0, line.find(" = "));
        failure(FailureKind::Driver, line, number, call, status);
    }
    return true;
}

bool RunBuilder::resultLine(lines::LineId id, std::string_view line, size_t number) {
    RunResult& r = run_.result;
    if (id == lines::LineId::PresentResult) {
        if (!lines::scan(lines::kPresentResult, line, r.frames, r.seconds, r.averageFps, r.presentErrors,
                         r.waitTimeouts, r.freeRunEvents))
            return false;
        r.presentSeen = true;
        ++r.presentLines;
        return true;
    }
    const RunResult before = r;  // the PRESENT RESULT line's counts, if it came
    if (int lost = 0;
        lines::scan(lines::kRunResult, line, r.frames, r.presentErrors, r.freeRunEvents, lost)) {
        r.displayLost = lost != 0;
        r.seen = true;
        r.countersAgree =
            !before.presentSeen || (before.frames == r.frames && before.presentErrors == r.presentErrors &&
                                    before.freeRunEvents == r.freeRunEvents);
        event(EventKind::Result, number);
        return true;
    }
    return false;
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
    inferSettings();
    run_.lastMs = lastMs_;
    return std::move(run_);
}

}  // namespace corva::report
