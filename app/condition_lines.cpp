#include "app/condition_lines.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"

#include <cstdio>
#include <cstring>

namespace corva {

namespace {

constexpr double kMs = 1e6;

void printWakeCondition(const char* name, int64_t figureNs, int64_t limitNs) {
    lines::print(lines::kWakeCondition, name, double(figureNs) / kMs, double(limitNs) / kMs);
}

// A group's figures as one text: "median 2.1 ms, p99 2.3 ms, max 4.0 ms over 1200 gaps".
using FigureText = char[192];

void pollLine(const char* name, const PollGaps& gaps, int64_t limitNs) {
    const PollFigures f = pollFigures(gaps);
    FigureText figures, limit;
    std::snprintf(figures, sizeof figures, "median %.2f ms, p99 %.2f ms, max %.2f ms over %llu gaps",
                  f.medianMs, f.p99Ms, f.maxMs, static_cast<unsigned long long>(f.gaps));
    std::snprintf(limit, sizeof limit, "median at most %.1f ms", double(limitNs) / kMs);
    lines::print(lines::kRunCondition, name, figures, verdictWord(judgePoll(f, limitNs)), limit);
}

void telemetryLine(const prox::TelemetryFigures* t) {
    FigureText figures, limit;
    std::snprintf(limit, sizeof limit,
                  "measured within %.0f %% of the asked, %u prompt in every %u, %u stalls",
                  limits::kIntervalKeptShare * 100.0, limits::kLeastPromptReports,
                  unsigned(prox::TelemetryIntervalMeter::kReports), limits::kReaderStalls);
    if (t == nullptr) {
        std::snprintf(figures, sizeof figures, "no proximity link");
        lines::print(lines::kRunCondition, lines::kTelemetry, figures, verdictWord(Verdict::Unmeasured),
                     limit);
        return;
    }
    const double share = t->reports > 0 ? 100.0 * double(t->promptReports) / double(t->reports) : 0.0;
    std::snprintf(
        figures, sizeof figures,
        "asked %.0f ms, measured %.2f..%.2f ms, jitter %.2f ms, %llu lost, %u restarts, %.0f %% prompt "
        "(least %u in 24), %u reader stalls (longest %.1f ms)",
        double(t->askedNs) / kMs, t->measuredMinMs, t->measuredMaxMs, double(t->jitterMaxNs) / kMs,
        static_cast<unsigned long long>(t->lostReports), t->timerRestarts, share, t->leastPrompt,
        t->readerStalls, double(t->longestStallNs) / kMs);
    lines::print(lines::kRunCondition, lines::kTelemetry, figures, verdictWord(judgeTelemetry(*t)), limit);
}

void vblankLine(const VblankMeter& v) {
    FigureText figures, limit;
    std::snprintf(figures, sizeof figures,
                  "period %.4f ms against the mode's %.4f ms (%+.0f ppm) over %llu, %llu missed",
                  v.periodNs() / kMs, v.nominalNs() / kMs, v.offPpm(),
                  static_cast<unsigned long long>(v.periods()), static_cast<unsigned long long>(v.missed()));
    std::snprintf(limit, sizeof limit, "within %.0f ppm, at most %.0f %% missed", limits::kVblankOffPpm,
                  limits::kMissedBlankShare * 100.0);
    lines::print(lines::kRunCondition, lines::kVerticalBlank, figures, verdictWord(judgeVblank(v)), limit);
}

void machineLine(const platform::MachineFigures& m) {
    FigureText figures, limit;
    if (m.measured)
        std::snprintf(figures, sizeof figures,
                      "timer resolution %.2f ms, 1 ms sleep %.2f ms, throttling opt-outs %s, %s",
                      m.timerResolutionMs, m.shortSleepMs,
                      !m.throttlingRead                ? "unknown"
                      : m.timerOptOut && m.speedOptOut ? "timer and speed"
                      : m.speedOptOut                  ? "speed only"
                      : m.timerOptOut                  ? "timer only"
                                                       : "none",
                      m.keptAwake ? "kept awake" : "not kept awake");
    else
        std::snprintf(figures, sizeof figures, "timer and throttling not measured on this platform");
    const size_t used = std::strlen(figures);
    std::snprintf(figures + used, sizeof figures - used, ", longest standstill %.1f ms",
                  double(m.longestStandstillNs) / kMs);
    std::snprintf(limit, sizeof limit,
                  "resolution %.1f ms, sleep %.1f ms, both opt-outs, kept awake, standstill %.0f ms",
                  limits::kTimerResolutionMs, limits::kShortSleepMs, double(limits::kStandstillNs) / kMs);
    lines::print(lines::kRunCondition, lines::kMachine, figures, verdictWord(judgeMachine(m)), limit);
}

}  // namespace

void printWakeConditions(const WakeConditions& wake) {
    if (monitorFailed(wake))
        printWakeCondition(lines::kMonitorGap, wake.monitorLateNs, limits::kMonitorGapNs);
    if (parkedFailed(wake)) printWakeCondition(lines::kParkedGap, wake.parkedGapNs, limits::kParkedGapNs);
    if (readerFailed(wake)) printWakeCondition(lines::kReaderStall, wake.readerStallNs, 0);
}

void printRunConditions(const RunConditionInputs& in) {
    pollLine(lines::kMonitorPoll, *in.monitorPolls, limits::kMonitorMedianNs);
    if (in.present != nullptr) {
        pollLine(lines::kParkedPoll, in.present->parkedPolls, limits::kParkedGapNs);
        vblankLine(in.present->vblank);
    }
    telemetryLine(in.telemetry);
    machineLine(in.machine);
}

}  // namespace corva
