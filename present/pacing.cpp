#include "present/pacing.h"

#include <algorithm>
#include <cmath>

namespace corva {

double justInTimeLead(double period, double peakWork) {
    return std::min(period, std::max(0.004, 1.5 * peakWork + 0.002));
}

int64_t justInTimeTargetNs(int64_t vsyncAnchorNs, double period, double lead) {
    return vsyncAnchorNs + static_cast<int64_t>((period - lead) * 1e9);
}

int64_t predictDisplayTimeNs(int64_t vsyncAnchorNs, int64_t frameStartNs, double avgWork, double period) {
    const double sinceAnchor = static_cast<double>(frameStartNs - vsyncAnchorNs) / 1e9;
    const double blanks = std::ceil((sinceAnchor + avgWork) / period);
    const double n = std::min(4.0, std::max(1.0, blanks));
    return vsyncAnchorNs + static_cast<int64_t>((n + 0.5) * period * 1e9);
}

uint32_t selfPaceSleepMs(double period, double loopTime) {
    if (!(period > loopTime)) return 0;
    return static_cast<uint32_t>((period - loopTime) * 1000.0);
}

PacingState::PacingState(double period) : period_(period), loopInterval_(period) {}

// The time-out count is kept: a park presents nothing and waits on nothing, so time-outs on
// either side of it are still in a row. Cleared here, a dead waitable would never be noticed
// in a benchmark whose active phases are shorter than five one-second time-outs.
void PacingState::reset() {
    loopInterval_ = period_;
    fastCount_ = 0;
    slowCount_ = 0;
    freeRunning_ = false;
    anchorValid_ = false;
}

bool PacingState::anchored(int64_t nowNs) const {
    return anchorValid_ && !freeRunning_ && nowNs - vsyncAnchorNs_ < kAnchorMaxAgeNs;
}

int64_t PacingState::justInTimeTargetNs() const {
    return corva::justInTimeTargetNs(vsyncAnchorNs_, period_, justInTimeLead(period_, peakWork_));
}

int64_t PacingState::predictDisplayTimeNs(int64_t frameStartNs) const {
    return corva::predictDisplayTimeNs(vsyncAnchorNs_, frameStartNs, avgWork_, period_);
}

void PacingState::addWorkTime(double work) {
    avgWork_ += 0.1 * (work - avgWork_);
    peakWork_ = std::max(0.001, std::max(work, 0.99 * peakWork_));
}

bool PacingState::waitTimedOut() {
    consecutiveTimeouts_ += 1;
    return consecutiveTimeouts_ >= kDeadWaitableTimeouts;
}

void PacingState::waitSignalled(int64_t t1Ns) {
    consecutiveTimeouts_ = 0;
    vsyncAnchorNs_ = t1Ns;
    anchorValid_ = true;
}

void PacingState::classifyByWait(double waitMs) {
    fastCount_ = waitMs < 0.5 ? fastCount_ + 1 : 0;
    slowCount_ = waitMs >= 2.0 ? slowCount_ + 1 : 0;
}

void PacingState::classifyByLoopTime(double loopTime) {
    if (loopInterval_ < 0.5 * period_) {
        fastCount_ += 1;
        slowCount_ = 0;
    } else if (loopTime > 0.8 * period_) {
        slowCount_ += 1;
        fastCount_ = 0;
    }
}

FreeRunStep PacingState::updateFreeRun(double waitMs, double loopTime, double runTime) {
    loopInterval_ += 0.1 * (loopTime - loopInterval_);
    if (waitMs >= 0.0)
        classifyByWait(waitMs);
    else
        classifyByLoopTime(loopTime);

    FreeRunStep step;
    if (!freeRunning_ && fastCount_ >= kFreeRunEnterFrames) {
        freeRunning_ = true;
        warned_ = runTime - lastFreeRunEnd_ > kFreeRunQuietSeconds;
        step.change = FreeRunChange::Entered;
        step.announce = warned_;
        step.selfPace = true;
    } else if (freeRunning_ && slowCount_ >= kFreeRunLeaveFrames) {
        freeRunning_ = false;
        loopInterval_ = period_;
        lastFreeRunEnd_ = runTime;
        step.change = FreeRunChange::Left;
        step.announce = warned_;
    } else {
        step.selfPace = freeRunning_;
    }
    return step;
}

}  // namespace corva
