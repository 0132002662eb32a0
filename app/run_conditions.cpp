#include "app/run_conditions.h"

#include "lines/printed_lines.h"

#include <cmath>

namespace corva {

const char* verdictWord(Verdict verdict) {
    switch (verdict) {
        case Verdict::Held:
            return lines::kHeld;
        case Verdict::Failed:
            return lines::kFailed;
        case Verdict::Unmeasured:
            break;
    }
    return lines::kUnmeasured;
}

PollFigures pollFigures(const PollGaps& gaps) {
    PollFigures f;
    f.gaps = gaps.count();
    f.medianMs = double(gaps.medianNs()) / 1e6;
    f.p99Ms = double(gaps.p99Ns()) / 1e6;
    f.maxMs = double(gaps.maxNs()) / 1e6;
    return f;
}

Verdict judgePoll(const PollFigures& figures, int64_t limitNs) {
    if (figures.gaps < limits::kLeastGaps) return Verdict::Unmeasured;
    return figures.medianMs * 1e6 > double(limitNs) ? Verdict::Failed : Verdict::Held;
}

Verdict judgeTelemetry(const prox::TelemetryFigures& f) {
    if (f.measurements == 0 || f.askedNs <= 0) return Verdict::Unmeasured;
    const double askedMs = double(f.askedNs) / 1e6;
    const double allowed = askedMs * limits::kIntervalKeptShare;
    const bool kept =
        std::fabs(f.measuredMinMs - askedMs) <= allowed && std::fabs(f.measuredMaxMs - askedMs) <= allowed;
    return kept && f.leastPrompt >= limits::kLeastPromptReports && f.readerStalls <= limits::kReaderStalls
               ? Verdict::Held
               : Verdict::Failed;
}

Verdict judgeVblank(const VblankMeter& vblank) {
    if (vblank.periods() < limits::kVblankPeriods) return Verdict::Unmeasured;
    const bool off = std::fabs(vblank.offPpm()) > limits::kVblankOffPpm;
    const bool missing = static_cast<double>(vblank.missed()) >
                         limits::kMissedBlankShare * static_cast<double>(vblank.periods());
    return off || missing ? Verdict::Failed : Verdict::Held;
}

Verdict judgeMachine(const platform::MachineFigures& m) {
    if (m.longestStandstillNs > limits::kStandstillNs) return Verdict::Failed;
    if (!m.measured) return Verdict::Unmeasured;
    const bool timing =
        m.timerResolutionMs <= limits::kTimerResolutionMs && m.shortSleepMs <= limits::kShortSleepMs;
    const bool optOuts = m.timerOptOut && m.speedOptOut;
    if (!timing || !m.keptAwake || (m.throttlingRead && !optOuts)) return Verdict::Failed;
    // Opt-outs the system does not tell (older Windows) cannot be vouched for.
    return m.throttlingRead ? Verdict::Held : Verdict::Unmeasured;
}

bool monitorFailed(const WakeConditions& wake) {
    return wake.monitorLateNs > limits::kMonitorGapNs;
}

bool parkedFailed(const WakeConditions& wake) {
    return wake.parkedGapNs > limits::kParkedGapNs;
}

bool readerFailed(const WakeConditions& wake) {
    return wake.readerStallNs > 0;
}

}  // namespace corva
