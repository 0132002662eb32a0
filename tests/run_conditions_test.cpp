// The meters behind the run's conditions, fed synthetic times: the vertical blank's period
// and missed blanks, and reader stalls told from a slow USB poll's bursts.
#include "app/run_conditions.h"
#include "platform/poll_gaps.h"
#include "present/vblank_meter.h"
#include "prox/telemetry_conditions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corva {
namespace {

constexpr double kPeriodNs = 1e9 / 75.0;

TEST(RunConditionMeters, VblankPeriodAndMissedBlanksWhateverTheFramesTake) {
    const struct {
        const char* what;
        double offPpm;      // the panel's blank against the mode's
        int missEvery;      // every k-th blank never comes (0: none)
        int slowEvery;      // every k-th frame is presented after the next blank (0: none)
        int lateEvery = 0;  // every k-th wait returns 1.6 ms late, the next 0.4 ms (0: none)
        int atOnce = 0;     // every k-th wait first finds the waitable signalled, breaking the chain
    } cases[] = {
        {"healthy", 0, 0, 0},
        {"slow frames span two blanks", 0, 0, 3},
        {"a slow blank", 8000, 0, 0},
        {"a fast blank with slow frames", -6000, 0, 4},
        {"every 10th blank missing", 0, 10, 0},
        {"every 7th blank missing, slow frames", 0, 7, 5},
        {"late wake-ups of the loop", 0, 0, 0, 5},
        {"late wake-ups in chains of three", 0, 0, 0, 3, 3},
    };
    for (const auto& c : cases) {
        VblankMeter meter(75.0);
        const double period = kPeriodNs * (1.0 + c.offPpm / 1e6);
        auto blank = [&](int beat) { return int64_t(beat * period); };
        auto missing = [&](int beat) { return c.missEvery != 0 && beat % c.missEvery == 0; };
        uint64_t missed = 0;
        int last = 1;
        meter.signalled(blank(1) - 2000000, blank(1) + 50000);
        for (int frame = 1; last < 300; ++frame) {
            // A paced frame waits from 2 ms before the next blank; a slow one from just after it.
            const bool slow = c.slowEvery != 0 && frame % c.slowEvery == 0;
            const int64_t waitStart = slow ? blank(last + 1) + 1000000 : blank(last + 1) - 2000000;
            int target = slow ? last + 2 : last + 1;
            for (int beat = last + 1; beat <= target; ++beat)
                if (missing(beat)) {
                    missed += blank(beat) > waitStart ? 1 : 0;
                    ++target;
                }
            const bool late = c.lateEvery != 0 && frame % c.lateEvery == 0;
            const bool afterLate = c.lateEvery != 0 && frame % c.lateEvery == 1;
            if (c.atOnce != 0 && frame % c.atOnce == 0) meter.signalled(waitStart, waitStart);
            meter.signalled(waitStart, blank(target) + (late ? 1600000 : afterLate ? 400000 : 50000));
            last = target;
        }
        EXPECT_NEAR(meter.offPpm(), c.offPpm, 100.0) << c.what;
        const bool failed = c.missEvery != 0 || std::fabs(c.offPpm) > 5000;
        const Verdict truth = c.atOnce != 0 ? Verdict::Unmeasured : failed ? Verdict::Failed : Verdict::Held;
        EXPECT_EQ(judgeVblank(meter), truth) << c.what;
        EXPECT_EQ(meter.missed(), missed) << c.what;
        EXPECT_EQ(missed > 0, c.missEvery != 0) << c.what;
        EXPECT_EQ(meter.periods() > 250u, truth != Verdict::Unmeasured) << c.what;
    }
}

TEST(RunConditionMeters, AReaderStallIsABurstAfterAGapTheStreamDoesNotKeep) {
    const struct {
        const char* what;
        int64_t intervalNs;
        int64_t pollNs;     // reports go at the host's next poll (0: at once)
        int64_t heldAtNs;   // the reader starved from here ... (0: never)
        int64_t heldForNs;  // ... for this long
        uint32_t stalls;
    } cases[] = {
        {"50 ms, read promptly", 50000000, 0, 0, 0, 0},
        {"5 ms behind a 32 ms poll", 5000000, 32000000, 0, 0, 0},
        {"50 ms, reader starved 130 ms", 50000000, 0, 3000000000, 130000000, 1},
        {"5 ms behind a 32 ms poll, reader starved 80 ms", 5000000, 32000000, 2000000000, 80000000, 1},
        {"1 ms, reader starved 10 ms", 1000000, 0, 1500000000, 10000000, 1},
    };
    for (const auto& c : cases) {
        prox::TelemetryConditions conditions;
        conditions.setAskedIntervalNs(c.intervalNs);
        const int64_t heldTo = c.heldAtNs + c.heldForNs;
        int64_t read = 0;
        for (int64_t sent = c.intervalNs; sent < 4000000000; sent += c.intervalNs) {
            int64_t arrival = c.pollNs == 0 ? sent : (sent / c.pollNs + 1) * c.pollNs;
            if (arrival >= c.heldAtNs && arrival < heldTo) arrival = heldTo;
            read = std::max(read + 20000, arrival + 30000);  // the reader takes 20 us a report
            conditions.add(read);
        }
        EXPECT_EQ(conditions.figures().readerStalls, c.stalls) << c.what;
        if (c.stalls == 1) {
            EXPECT_NEAR(double(conditions.lastStallToNs() - conditions.lastStallFromNs()),
                        double(c.heldForNs), double(c.intervalNs + c.pollNs))
                << c.what;
        }
    }
}

TEST(RunConditionMeters, PollGapsGiveMedianP99AndTheLongestExactly) {
    PollGaps gaps;
    int64_t now = 1000;
    gaps.look(now);
    for (int i = 0; i < 990; ++i) gaps.look(now += 2000000);
    for (int i = 0; i < 10; ++i) gaps.look(now += 15600000);
    gaps.look(now += 400000000);  // beyond the histogram
    EXPECT_EQ(gaps.count(), 1001u);
    EXPECT_EQ(gaps.medianNs(), 2050000);
    EXPECT_EQ(gaps.p99Ns(), 15650000);
    EXPECT_EQ(gaps.maxNs(), 400000000);
    gaps.pause();
    gaps.look(now + 5000000000);  // after a pause: no gap
    EXPECT_EQ(gaps.count(), 1001u);
}

// What each verdict needs: never held where nothing could be measured, failed on any figure
// beyond its limit.
TEST(RunConditionMeters, VerdictsNeedTheirFiguresAndNeverHoldUnmeasured) {
    using platform::MachineFigures;
    const MachineFigures unmeasured{};  // Linux: nothing measured
    MachineFigures slept = unmeasured;
    slept.longestStandstillNs = 900000000;
    const MachineFigures windows{true, 0.98, 1.4, true, true, true, true, 20000000};
    MachineFigures coarse = windows, unread = windows, speedOnly = windows, awakeRefused = windows;
    coarse.timerResolutionMs = 15.625;
    unread.throttlingRead = false;
    speedOnly.timerOptOut = false;
    awakeRefused.keptAwake = false;
    const struct {
        const char* what;
        MachineFigures machine;
        Verdict verdict;
    } machines[] = {{"Linux", unmeasured, Verdict::Unmeasured},
                    {"a PC that slept", slept, Verdict::Failed},
                    {"Windows, all held", windows, Verdict::Held},
                    {"coarse timer", coarse, Verdict::Failed},
                    {"opt-outs not told", unread, Verdict::Unmeasured},
                    {"speed opt-out only", speedOnly, Verdict::Failed},
                    {"keep-awake refused", awakeRefused, Verdict::Failed}};
    for (const auto& m : machines) EXPECT_EQ(judgeMachine(m.machine), m.verdict) << m.what;

    prox::TelemetryFigures telemetry;
    EXPECT_EQ(judgeTelemetry(telemetry), Verdict::Unmeasured);  // no measurement (or no link)
    telemetry = {50000000, 4, 49.9, 50.2, 100000, 96, 80, 18, 0, 0, 0, 0};
    EXPECT_EQ(judgeTelemetry(telemetry), Verdict::Held);
    for (auto broken : {+[](prox::TelemetryFigures& t) { t.measuredMaxMs = 56.0; },
                        +[](prox::TelemetryFigures& t) { t.leastPrompt = 0; },
                        +[](prox::TelemetryFigures& t) { t.readerStalls = 1; }}) {
        prox::TelemetryFigures t = telemetry;
        broken(t);
        EXPECT_EQ(judgeTelemetry(t), Verdict::Failed);
    }
    EXPECT_EQ(judgePoll({2, 2.1, 2.2, 2.3}, limits::kMonitorMedianNs), Verdict::Unmeasured);  // too few gaps
    EXPECT_EQ(judgePoll({900, 2.1, 9.8, 30.0}, limits::kMonitorMedianNs), Verdict::Held);  // a busy machine
    EXPECT_EQ(judgePoll({900, 3.4, 4.9, 6.0}, limits::kMonitorMedianNs), Verdict::Failed);
    EXPECT_EQ(judgePoll({900, 15.6, 15.7, 16.0}, limits::kMonitorMedianNs), Verdict::Failed);
}

}  // namespace
}  // namespace corva
