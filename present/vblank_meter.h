// The display's own vertical blank, measured from the present loop's waits on the waitable:
// its period against the mode's rate, and blanks that never came. A few additions per
// frame, no allocation, no wait.
#pragma once

#include <cstdint>

namespace corva {

class VblankMeter {
  public:
    // A wait that returned within this of its start found the waitable already signalled (a
    // frame that took longer than a period): its return is no blank's time.
    static constexpr int64_t kAtOnceNs = 300000;
    // A wait that started this much before a blank's time was waiting for it.
    static constexpr int64_t kWaitingMarginNs = 1000000;
    // Only chains of at least this many returns give the period: a machine too busy to keep
    // the frames within a period breaks them every few returns, and a fit over two or three
    // returns late by its wake-ups leans by percents.
    static constexpr uint64_t kLeastChainReturns = 8;

    explicit VblankMeter(double refreshHz) : nominalNs_(refreshHz > 0.0 ? 1e9 / refreshHz : 0.0) {}

    // A wait started at `waitStartNs` ended signalled at `signalNs`. The time between two
    // blanks' returns is a whole number of periods: a wait that spans two blanks (a slow
    // frame) counts two periods, not one slow one. A blank due while the loop already
    // waited, which never signalled, is a missed blank.
    //
    // The period is the slope of the returns against their blank counts, fitted within each
    // unbroken chain of returns and pooled: a return late by a millisecond or two (Wine's
    // wake-ups) moves the fit little and leans it neither way, where a sum of the gaps that
    // leaves out the late ones read the blank 6000 ppm fast.
    void signalled(int64_t waitStartNs, int64_t signalNs) {
        if (nominalNs_ <= 0.0) return;
        if (signalNs - waitStartNs < kAtOnceNs) {
            pause();
            return;
        }
        if (lastNs_ != 0) {
            const double gap = static_cast<double>(signalNs - lastNs_);
            const int64_t k = static_cast<int64_t>(gap / nominalNs_ + 0.5);
            if (k < 1 || k > 8) {  // a stretch of more than 8 periods says little of each
                pause();
            } else {
                // Missed blanks only where the gap is a clean whole number of periods.
                const double off = gap - static_cast<double>(k) * nominalNs_;
                if (off < nominalNs_ / 10 && -off < nominalNs_ / 10)
                    for (int64_t j = 1; j < k; ++j)
                        if (static_cast<double>(lastNs_) + static_cast<double>(j) * nominalNs_ >
                            static_cast<double>(waitStartNs + kWaitingMarginNs))
                            chainMissed_ += 1;
                beat_ += k;
                chainPeriods_ += static_cast<uint64_t>(k);
            }
        }
        if (lastNs_ == 0) chainStartNs_ = signalNs;
        addPoint(static_cast<double>(beat_), static_cast<double>(signalNs - chainStartNs_));
        lastNs_ = signalNs;
    }
    // Time not spent waiting for blanks (panels parked, a timed-out wait) breaks the chain.
    void pause() {
        if (chainCount_ >= kLeastChainReturns) {
            pooledXx_ += chainXx_;
            pooledXy_ += chainXy_;
            periods_ += chainPeriods_;
            missed_ += chainMissed_;
        }
        chainPeriods_ = chainMissed_ = 0;
        chainCount_ = 0;
        chainMeanX_ = chainMeanY_ = chainXx_ = chainXy_ = 0.0;
        beat_ = 0;
        lastNs_ = 0;
    }

    // The periods of the chains that give the period.
    uint64_t periods() const { return periods_ + (longChain() ? chainPeriods_ : 0); }
    uint64_t missed() const { return missed_ + (longChain() ? chainMissed_ : 0); }
    double nominalNs() const { return nominalNs_; }
    // The measured period; 0 before any.
    double periodNs() const {
        const double xx = pooledXx_ + (longChain() ? chainXx_ : 0.0);
        return periods() > 0 && xx > 0.0 ? (pooledXy_ + (longChain() ? chainXy_ : 0.0)) / xx : 0.0;
    }
    // How far the period lies off the mode's, in parts per million.
    double offPpm() const { return periodNs() > 0.0 ? (periodNs() / nominalNs_ - 1.0) * 1e6 : 0.0; }

  private:
    bool longChain() const { return chainCount_ >= kLeastChainReturns; }
    // One point of the chain's fit (Welford's running co-moments: no sum of squares of times).
    void addPoint(double x, double y) {
        chainCount_ += 1;
        const double dx = x - chainMeanX_;
        chainMeanX_ += dx / static_cast<double>(chainCount_);
        chainMeanY_ += (y - chainMeanY_) / static_cast<double>(chainCount_);
        chainXx_ += dx * (x - chainMeanX_);
        chainXy_ += dx * (y - chainMeanY_);
    }

    double nominalNs_;
    int64_t lastNs_ = 0;
    int64_t chainStartNs_ = 0;
    int64_t beat_ = 0;  // blanks since the chain's first return
    uint64_t chainCount_ = 0;
    double chainMeanX_ = 0.0, chainMeanY_ = 0.0, chainXx_ = 0.0, chainXy_ = 0.0;
    double pooledXx_ = 0.0, pooledXy_ = 0.0;
    uint64_t periods_ = 0;
    uint64_t chainPeriods_ = 0;
    uint64_t chainMissed_ = 0;
    uint64_t missed_ = 0;
};

}  // namespace corva
