// The conditions the run's wake figures rest on, judged against limits each figure needs:
// the display-status monitor's 2 ms poll, the present loop's 50 ms parked poll, the
// telemetry, the vertical blank and the machine. Every verdict is held, failed, or
// unmeasured (nothing to judge by on this platform or in this run: never held then).
#pragma once

#include "platform/machine_conditions.h"
#include "platform/poll_gaps.h"
#include "present/present_conditions.h"
#include "prox/telemetry_conditions.h"

#include <cstdint>

namespace corva {

enum class Verdict { Held, Failed, Unmeasured };
const char* verdictWord(Verdict verdict);

namespace limits {
// The monitor samples every 2 ms: a latency is late by the time from the arrival of the
// report that showed the displays on to the monitor's sample of it (the part of the monitor's
// gap the figure holds; the whole gap would also count the time before the report came). At
// most 5 ms, the finest telemetry interval the figures are read at (TESSARAY_TELEMETRY_MS=5
// times the displays on to within 5 ms): beyond it the monitor, not the telemetry, sets the
// figure's resolution. A timer that was not made finer (15.6 ms) fails it by far.
constexpr int64_t kMonitorGapNs = 5000000;
// The run as a whole is judged by the poll's median, which the statistics of its latencies
// rest on: the 2 ms asked plus 1 ms of scheduling. A timer that was not made finer puts every
// gap at 15.6 ms; a busy machine's occasional long gap is the wake's own (kMonitorGapNs above),
// and leaves the run's other wakes alone.
constexpr int64_t kMonitorMedianNs = 3000000;
// The parked poll looks every 50 ms: a park wake's `react` and latency include the gap that
// saw the wake. The same 5 ms over the design's 50 ms.
constexpr int64_t kParkedGapNs = 55000000;
// The vertical blank against the mode's rate: beyond half a percent the mode is not what
// the run believes, and the first-vblank phase is not the mode's (measured over chains of
// returns long enough to tell: VblankMeter::kLeastChainReturns).
constexpr double kVblankOffPpm = 5000.0;
// A missed blank moves a wake's first-vblank phase by a whole period: more than one blank in
// a hundred puts more than one wake in a hundred a period late.
constexpr double kMissedBlankShare = 0.01;
// The vertical blank's period needs at least this many periods to be judged.
constexpr uint64_t kVblankPeriods = 30;
// The telemetry: the interval's grid is used only when kept within 10 % (the program's own
// rule); the lower bound needs a report read promptly in every run of 24; a stalled
// reader places the interval late.
constexpr double kIntervalKeptShare = 0.10;
constexpr uint32_t kLeastPromptReports = 1;
constexpr uint32_t kReaderStalls = 0;
// The machine: a timer coarser than 1 ms stretches the 2 ms poll; a 1 ms sleep measured
// longer than 2 ms says the same whatever the resolution read back.
constexpr double kTimerResolutionMs = 1.0;
constexpr double kShortSleepMs = 2.0;
// Half a second without a monitor sample: the machine or the process stood still (a PC that
// slept); the program itself takes the telemetry for paused after as long.
constexpr int64_t kStandstillNs = 500000000;
// Polls judged only once there are this many gaps (a run without a park has none).
constexpr uint64_t kLeastGaps = 3;
}  // namespace limits

struct PollFigures {
    uint64_t gaps = 0;
    double medianMs = 0.0;
    double p99Ms = 0.0;
    double maxMs = 0.0;
};
PollFigures pollFigures(const PollGaps& gaps);
Verdict judgePoll(const PollFigures& figures, int64_t limitNs);

Verdict judgeTelemetry(const prox::TelemetryFigures& figures);
Verdict judgeVblank(const VblankMeter& vblank);
Verdict judgeMachine(const platform::MachineFigures& machine);

// What one timed wake's figures rested on, as seen around it: how late the monitor's sample
// saw the report that showed the displays on, the parked poll's gap that saw the wake (park
// wakes), and a reader stall from shortly before the request to the phase line (0: none).
struct WakeConditions {
    int64_t monitorLateNs = 0;
    int64_t parkedGapNs = 0;
    int64_t readerStallNs = 0;
};
bool monitorFailed(const WakeConditions& wake);
bool parkedFailed(const WakeConditions& wake);
bool readerFailed(const WakeConditions& wake);

}  // namespace corva
