// The present loop's pacing decisions as plain arithmetic on steady-clock readings:
// the just-in-time wait, the display-time prediction, the work-time averages, free-run
// detection and the count of present-waitable time-outs. No OS calls, so every rule can
// be exercised with made-up times.
#pragma once

#include <cstdint>

namespace corva {

// Frames classed as not held by the vertical blank in a row before self-pacing starts,
// and frames held by it in a row before it stops.
constexpr int32_t kFreeRunEnterFrames = 30;
constexpr int32_t kFreeRunLeaveFrames = 10;
// A free-run episode that begins this soon after the previous one ended stays silent.
constexpr double kFreeRunQuietSeconds = 10.0;
// Present-waitable time-outs (one second each) in a row that mean the display is gone.
constexpr uint64_t kDeadWaitableTimeouts = 5;
// An anchor this old no longer says where the next vertical blank falls.
constexpr int64_t kAnchorMaxAgeNs = 1000000000;
// Remaining just-in-time waits this short are not worth a timer.
constexpr double kMinJitWaitSeconds = 0.0002;

// How long before the next vertical blank a frame starts: 1.5 peak work times plus 2 ms,
// at least 4 ms and at most one period.
double justInTimeLead(double period, double peakWork);

// Steady-clock time at which an anchored frame starts: one period after the anchor,
// less the lead.
int64_t justInTimeTargetNs(int64_t vsyncAnchorNs, double period, double lead);

// Expected display time of a frame started at frameStartNs: the middle of the scan-out
// of the first vertical blank its work can make, 1 to 4 periods after the anchor.
int64_t predictDisplayTimeNs(int64_t vsyncAnchorNs, int64_t frameStartNs, double avgWork, double period);

// Milliseconds of self-pacing sleep that top a loop iteration up to one period.
uint32_t selfPaceSleepMs(double period, double loopTime);

enum class FreeRunChange { None, Entered, Left };

// What one iteration's free-run step decided.
struct FreeRunStep {
    FreeRunChange change = FreeRunChange::None;
    bool selfPace = false;  // sleep the rest of the period in this iteration
    bool announce = false;  // print the line of an entry or exit (episodes within 10 s are silent)
};

// Loop state that decides the pacing mode of every frame. Local to one run.
class PacingState {
  public:
    explicit PacingState(double period);

    // Back to the initial condition after the panels were off: unanchored, not free-running.
    // Work-time averages, the warned flag, the end of the last episode and the count of
    // time-outs in a row (only a signalled wait ends it) are kept.
    void reset();

    double period() const { return period_; }

    // Whether a frame started now gets the just-in-time wait and a display-time prediction.
    bool anchored(int64_t nowNs) const;
    int64_t justInTimeTargetNs() const;
    int64_t predictDisplayTimeNs(int64_t frameStartNs) const;

    // Folds one frame's work time (start of recording to after the present) into the
    // moving average and the decaying peak.
    void addWorkTime(double work);

    // Result of one wait on the present waitable: true when the wait timed out for the
    // fifth time in a row and the display counts as lost.
    bool waitTimedOut();
    // A signalled wait at steadyclock t1 anchors the pacing and ends any run of time-outs.
    void waitSignalled(int64_t t1Ns);
    // Frames without a present waitable never time out.
    void noWaitable() { consecutiveTimeouts_ = 0; }

    // The free-run step of one iteration. waitMs is the vertical-blank wait in ms, or a
    // negative value when there is no waitable; loopTime is the iteration so far, net of
    // the just-in-time wait; runTime is seconds since the run began.
    FreeRunStep updateFreeRun(double waitMs, double loopTime, double runTime);

    bool freeRunning() const { return freeRunning_; }
    uint64_t consecutiveTimeouts() const { return consecutiveTimeouts_; }
    double avgWork() const { return avgWork_; }
    double peakWork() const { return peakWork_; }
    double loopInterval() const { return loopInterval_; }
    int32_t fastCount() const { return fastCount_; }
    int32_t slowCount() const { return slowCount_; }
    bool anchorValid() const { return anchorValid_; }
    int64_t vsyncAnchorNs() const { return vsyncAnchorNs_; }

  private:
    void classifyByWait(double waitMs);
    void classifyByLoopTime(double loopTime);

    double period_;
    int64_t vsyncAnchorNs_ = 0;
    bool anchorValid_ = false;
    double avgWork_ = 0.003;
    double peakWork_ = 0.003;
    double loopInterval_;
    int32_t fastCount_ = 0;
    int32_t slowCount_ = 0;
    bool freeRunning_ = false;
    bool warned_ = false;
    double lastFreeRunEnd_ = -1e9;
    uint64_t consecutiveTimeouts_ = 0;
};

}  // namespace corva
