// The names of the fields tessaray-report writes, one list for the CSV and the JSON. A
// cycle's fields are the columns of --csv, in this order; in the JSON each run holds the source and
// the mode, and each of its cycles the fields from `cycle` on, under the same names. Units are in the names:
// _ms milliseconds, _time the local time hh:mm:ss.mmm. --events has a list of its own.
#pragma once

#include <array>
#include <cstddef>

namespace corva::report {

enum class CycleField : size_t {
    Source,
    Run,
    Mode,
    Cycle,
    Cycles,
    Outcome,
    CycleLine,
    DownRequestTime,
    DownDoneTime,
    DisplaysOffTime,
    WakeRequestTime,
    DisplaysOnTime,
    WakeLatencyMs,
    ParkMs,
    DozeMs,
    DisplaysOffMs,
    WakeReactMs,
    WakeModeSetMs,
    WakePowerOnMs,
    WakeFirstVblankMs,
    DisplaysOnMidMs,
    DisplaysOnWidthMs,
    PanelWakeMs,
    DisplaysOnLoMs,
    DisplaysOnHiMs,
    Note,
};

inline constexpr std::array<const char*, 26> kCycleFieldNames{
    "source",
    "run",
    "mode",
    "cycle",
    "cycles",
    "outcome",
    "cycle_line",
    "down_request_time",
    "down_done_time",
    "displays_off_time",
    "wake_request_time",
    "displays_on_time",
    "wake_latency_ms",
    "park_ms",
    "doze_ms",
    "displays_off_ms",
    "wake_react_ms",
    "wake_mode_set_ms",
    "wake_power_on_ms",
    "wake_first_vblank_ms",
    "displays_on_mid_ms",
    "displays_on_width_ms",
    "panel_wake_ms",
    "displays_on_lo_ms",
    "displays_on_hi_ms",
    "note",
};

constexpr const char* fieldName(CycleField field) {
    return kCycleFieldNames[static_cast<size_t>(field)];
}

static_assert(static_cast<size_t>(CycleField::Note) + 1 == kCycleFieldNames.size(), "one name per field");

// One row per event or status line (--events).
enum class EventField : size_t {
    Source,
    Run,
    Line,
    Time,
    MsSinceStart,
    Timed,
    Cycle,
    Event,
    Value,
    DstatFrom,
    DstatTo,
    Detail,
};

inline constexpr std::array<const char*, 12> kEventFieldNames{
    "source", "run",   "line",  "time",       "ms_since_start", "timed",
    "cycle",  "event", "value", "dstat_from", "dstat_to",       "detail"};

static_assert(static_cast<size_t>(EventField::Detail) + 1 == kEventFieldNames.size(), "one name per field");

}  // namespace corva::report
