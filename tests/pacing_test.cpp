// The present loop's pacing arithmetic, with made-up clock readings.
#include "present/pacing.h"

#include <gtest/gtest.h>

namespace corva {
namespace {

constexpr double kPeriod = 1.0 / 75.0;
constexpr int64_t kAnchor = 5000000000;  // an arbitrary steady-clock time

TEST(JustInTimeLead, IsOnePointFivePeaksPlusTwoMsBetweenFourMsAndAPeriod) {
    EXPECT_DOUBLE_EQ(justInTimeLead(kPeriod, 0.001), 0.004);  // 3.5 ms raised to the floor
    EXPECT_DOUBLE_EQ(justInTimeLead(kPeriod, 0.004), 0.008);
    EXPECT_DOUBLE_EQ(justInTimeLead(kPeriod, 0.020), kPeriod);  // capped at one period
}

TEST(JustInTimeTarget, IsOnePeriodAfterTheAnchorLessTheLead) {
    EXPECT_EQ(justInTimeTargetNs(kAnchor, kPeriod, 0.008), kAnchor + 5333333);
    EXPECT_EQ(justInTimeTargetNs(kAnchor, kPeriod, kPeriod), kAnchor);
}

TEST(DisplayTimePrediction, AimsAtTheMiddleOfTheFirstReachableScanOut) {
    // Started right after the anchor with little work: the next vertical blank.
    EXPECT_EQ(predictDisplayTimeNs(kAnchor, kAnchor + 1000000, 0.003, kPeriod), kAnchor + 20000000);
    // Work that cannot finish before the next blank makes the one after.
    EXPECT_EQ(predictDisplayTimeNs(kAnchor, kAnchor + 12000000, 0.003, kPeriod), kAnchor + 33333333);
    // Far too late: clamped at four periods.
    EXPECT_EQ(predictDisplayTimeNs(kAnchor, kAnchor + 900000000, 0.003, kPeriod), kAnchor + 60000000);
    // Started before the anchor (clock steps are not monotonic across threads): at least one period.
    EXPECT_EQ(predictDisplayTimeNs(kAnchor, kAnchor - 50000000, 0.0, kPeriod), kAnchor + 20000000);
}

TEST(DisplayTimePrediction, StaysBetweenOneAndAHalfAndFourAndAHalfPeriods) {
    for (int64_t start = 0; start < 1000000000; start += 7000000) {
        for (double work : {0.0, 0.002, 0.013, 0.05}) {
            const int64_t predicted = predictDisplayTimeNs(kAnchor, kAnchor + start, work, kPeriod);
            EXPECT_GE(double(predicted - kAnchor), 1.5 * kPeriod * 1e9 - 1) << start << " " << work;
            EXPECT_LE(double(predicted - kAnchor), 4.5 * kPeriod * 1e9) << start << " " << work;
        }
    }
}

TEST(SelfPacing, SleepsTheRestOfThePeriodTruncated) {
    EXPECT_EQ(selfPaceSleepMs(kPeriod, 0.004), 9u);
    EXPECT_EQ(selfPaceSleepMs(kPeriod, 0.013), 0u);
    EXPECT_EQ(selfPaceSleepMs(kPeriod, 0.020), 0u);
}

TEST(PacingState, IsAnchoredOnlyByAFreshSignalledWaitWhileNotFreeRunning) {
    PacingState pacing(kPeriod);
    EXPECT_FALSE(pacing.anchored(kAnchor));
    pacing.waitSignalled(kAnchor);
    EXPECT_TRUE(pacing.anchored(kAnchor + 999999999));
    EXPECT_FALSE(pacing.anchored(kAnchor + 1000000000));  // one second old

    for (int i = 0; i < kFreeRunEnterFrames; ++i) pacing.updateFreeRun(0.1, 0.005, 1.0);
    ASSERT_TRUE(pacing.freeRunning());
    EXPECT_FALSE(pacing.anchored(kAnchor + 1000));
}

TEST(PacingState, TargetAndPredictionFollowTheAnchorAndTheWorkTimes) {
    PacingState pacing(kPeriod);
    pacing.waitSignalled(kAnchor);
    // Initial peak 3 ms: lead 6.5 ms.
    EXPECT_EQ(pacing.justInTimeTargetNs(), kAnchor + int64_t((kPeriod - 0.0065) * 1e9));
    for (int i = 0; i < 20; ++i) pacing.addWorkTime(0.010);
    EXPECT_EQ(pacing.justInTimeTargetNs(), kAnchor);  // lead capped at a period
    EXPECT_GT(pacing.avgWork(), 0.008);
    EXPECT_EQ(pacing.predictDisplayTimeNs(kAnchor + 1000000), kAnchor + 20000000);
    EXPECT_EQ(pacing.predictDisplayTimeNs(kAnchor + 5000000), kAnchor + 33333333);
}

TEST(PacingState, WorkAverageMovesATenthAndThePeakDecays) {
    PacingState pacing(kPeriod);
    pacing.addWorkTime(0.013);
    EXPECT_DOUBLE_EQ(pacing.avgWork(), 0.004);
    EXPECT_DOUBLE_EQ(pacing.peakWork(), 0.013);
    pacing.addWorkTime(0.0);
    EXPECT_DOUBLE_EQ(pacing.peakWork(), 0.013 * 0.99);
    for (int i = 0; i < 1000; ++i) pacing.addWorkTime(0.0);
    EXPECT_DOUBLE_EQ(pacing.peakWork(), 0.001);  // floor
}

TEST(FreeRunWithWaitable, ThirtyFastFramesEnterAndTenSlowOnesLeave) {
    PacingState pacing(kPeriod);
    for (int i = 1; i < kFreeRunEnterFrames; ++i)
        EXPECT_EQ(pacing.updateFreeRun(0.2, 0.004, 20.0).change, FreeRunChange::None);
    const FreeRunStep enter = pacing.updateFreeRun(0.2, 0.004, 20.0);
    EXPECT_EQ(enter.change, FreeRunChange::Entered);
    EXPECT_TRUE(enter.announce);  // the first episode of a run always warns
    EXPECT_TRUE(enter.selfPace);
    EXPECT_TRUE(pacing.updateFreeRun(0.2, 0.004, 20.1).selfPace);

    for (int i = 1; i < kFreeRunLeaveFrames; ++i) {
        const FreeRunStep step = pacing.updateFreeRun(8.0, 0.013, 21.0);
        EXPECT_EQ(step.change, FreeRunChange::None);
        EXPECT_TRUE(step.selfPace);
    }
    const FreeRunStep leave = pacing.updateFreeRun(8.0, 0.013, 21.0);
    EXPECT_EQ(leave.change, FreeRunChange::Left);
    EXPECT_TRUE(leave.announce);
    EXPECT_FALSE(leave.selfPace);  // no self-pacing sleep in the leaving iteration
    EXPECT_FALSE(pacing.freeRunning());
    EXPECT_DOUBLE_EQ(pacing.loopInterval(), kPeriod);
}

TEST(FreeRunWithWaitable, AMiddlingWaitClearsBothCounts) {
    PacingState pacing(kPeriod);
    for (int i = 0; i < kFreeRunEnterFrames - 1; ++i) pacing.updateFreeRun(0.2, 0.004, 1.0);
    pacing.updateFreeRun(1.0, 0.004, 1.0);  // 0.5 ms up to 2 ms: neither fast nor slow
    EXPECT_EQ(pacing.fastCount(), 0);
    EXPECT_EQ(pacing.slowCount(), 0);
    for (int i = 0; i < kFreeRunEnterFrames - 1; ++i) pacing.updateFreeRun(0.2, 0.004, 1.0);
    EXPECT_FALSE(pacing.freeRunning());
    EXPECT_EQ(pacing.updateFreeRun(0.49, 0.004, 1.0).change, FreeRunChange::Entered);
    // 2.0 ms counts as slow, 1.99 breaks the run of slow frames.
    for (int i = 0; i < kFreeRunLeaveFrames - 1; ++i) pacing.updateFreeRun(2.0, 0.013, 1.0);
    pacing.updateFreeRun(1.99, 0.013, 1.0);
    EXPECT_TRUE(pacing.freeRunning());
}

void runEpisode(PacingState& pacing, double startTime, double endTime, FreeRunStep& enter,
                FreeRunStep& leave) {
    for (int i = 0; i < kFreeRunEnterFrames; ++i) enter = pacing.updateFreeRun(0.1, 0.004, startTime);
    for (int i = 0; i < kFreeRunLeaveFrames; ++i) leave = pacing.updateFreeRun(8.0, 0.013, endTime);
}

TEST(FreeRunEpisodes, OneStartingWithinTenSecondsOfTheLastEndIsSilent) {
    PacingState pacing(kPeriod);
    FreeRunStep enter, leave;
    runEpisode(pacing, 1.0, 2.0, enter, leave);
    ASSERT_EQ(enter.change, FreeRunChange::Entered);
    ASSERT_EQ(leave.change, FreeRunChange::Left);
    EXPECT_TRUE(enter.announce && leave.announce);

    runEpisode(pacing, 12.0, 13.0, enter, leave);  // exactly 10 s after the end: silent
    EXPECT_EQ(enter.change, FreeRunChange::Entered);
    EXPECT_EQ(leave.change, FreeRunChange::Left);
    EXPECT_FALSE(enter.announce);
    EXPECT_FALSE(leave.announce);

    runEpisode(pacing, 23.5, 24.0, enter, leave);  // 10.5 s after: warns again
    EXPECT_TRUE(enter.announce);
    EXPECT_TRUE(leave.announce);
}

TEST(FreeRunWithoutWaitable, JudgesByTheLoopInterval) {
    PacingState pacing(kPeriod);
    // Fast loops pull the average below half a period only after a few frames.
    int framesToEnter = 0;
    while (!pacing.freeRunning() && framesToEnter < 200) {
        pacing.updateFreeRun(-1.0, 0.001, 1.0);
        ++framesToEnter;
    }
    EXPECT_TRUE(pacing.freeRunning());
    EXPECT_GT(framesToEnter, kFreeRunEnterFrames);
    EXPECT_LT(framesToEnter, 60);

    // Self-paced iterations last about a period; once the average is back above half a
    // period, each one above 0.8 periods counts as slow.
    int framesToLeave = 0;
    while (pacing.freeRunning() && framesToLeave < 200) {
        pacing.updateFreeRun(-1.0, 0.013, 2.0);
        ++framesToLeave;
    }
    EXPECT_FALSE(pacing.freeRunning());
    EXPECT_GT(framesToLeave, kFreeRunLeaveFrames);
    EXPECT_LT(framesToLeave, 30);

    // Between half and 0.8 periods, with the average above half: neither count changes.
    pacing.updateFreeRun(-1.0, 0.0109, 3.0);
    EXPECT_EQ(pacing.slowCount(), kFreeRunLeaveFrames + 1);
    pacing.updateFreeRun(-1.0, 0.009, 3.0);
    EXPECT_EQ(pacing.slowCount(), kFreeRunLeaveFrames + 1);
    EXPECT_EQ(pacing.fastCount(), 0);
}

TEST(WaitableTimeouts, FiveInARowMeanTheDisplayIsLostAndASignalledWaitStartsAgain) {
    PacingState pacing(kPeriod);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(pacing.waitTimedOut());
    pacing.waitSignalled(kAnchor);
    EXPECT_EQ(pacing.consecutiveTimeouts(), 0u);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(pacing.waitTimedOut());
    pacing.noWaitable();  // a frame without a waitable also ends the run of time-outs
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(pacing.waitTimedOut());
    EXPECT_TRUE(pacing.waitTimedOut());
    EXPECT_EQ(pacing.consecutiveTimeouts(), 5u);

    // Parks in between (short benchmark phases) do not hide a dead waitable.
    PacingState cycling(kPeriod);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(cycling.waitTimedOut());
        cycling.reset();
    }
    EXPECT_TRUE(cycling.waitTimedOut());
}

TEST(PacingState, ResetReturnsToUnanchoredButKeepsWorkTimesAndTheEpisodeHistory) {
    PacingState pacing(kPeriod);
    FreeRunStep enter, leave;
    runEpisode(pacing, 1.0, 2.0, enter, leave);
    for (int i = 0; i < 5; ++i) pacing.addWorkTime(0.009);
    const double avg = pacing.avgWork();
    const double peak = pacing.peakWork();
    pacing.waitSignalled(kAnchor);
    for (int i = 0; i < kFreeRunEnterFrames; ++i) pacing.updateFreeRun(0.1, 0.002, 3.0);
    pacing.waitTimedOut();
    ASSERT_TRUE(pacing.freeRunning());

    pacing.reset();
    EXPECT_FALSE(pacing.freeRunning());
    EXPECT_FALSE(pacing.anchorValid());
    EXPECT_FALSE(pacing.anchored(kAnchor + 1000));
    EXPECT_EQ(pacing.consecutiveTimeouts(), 1u) << "a wake does not end a run of time-outs";
    EXPECT_EQ(pacing.fastCount(), 0);
    EXPECT_EQ(pacing.slowCount(), 0);
    EXPECT_DOUBLE_EQ(pacing.loopInterval(), kPeriod);
    EXPECT_DOUBLE_EQ(pacing.avgWork(), avg);
    EXPECT_DOUBLE_EQ(pacing.peakWork(), peak);
    // The end of the last episode is kept: one starting soon after stays silent.
    runEpisode(pacing, 4.0, 5.0, enter, leave);
    EXPECT_EQ(enter.change, FreeRunChange::Entered);
    EXPECT_FALSE(enter.announce);
}

}  // namespace
}  // namespace corva
