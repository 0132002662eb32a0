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

    explicit VblankMeter(double refreshHz) : nominalNs_(refreshHz > 0.0 ? 1e9 / refreshHz : 0.0) {}

    // A wait started at `waitStartNs` ended signalled at `signalNs`. The time between two
    // blanks' returns is a whole number of periods: a wait that spans two blanks (a slow
    // frame) counts two periods, not one slow one. A blank due while the loop already
    // waited, which never signalled, is a missed blank.
    void signalled(int64_t waitStartNs, int64_t signalNs) {
        if (nominalNs_ <= 0.0) return;
        if (signalNs - waitStartNs < kAtOnceNs) {
            lastNs_ = 0;
            return;
        }
        if (lastNs_ != 0) {
            const double gap = static_cast<double>(signalNs - lastNs_);
            const int64_t k = static_cast<int64_t>(gap / nominalNs_ + 0.5);
            // Off a whole number of periods by more than a tenth of one: a late wake-up of the
            // loop, no blank's time; a stretch of more than 8 periods says little of each.
            if (k >= 1 && k <= 8 && gap - static_cast<double>(k) * nominalNs_ < nominalNs_ / 10 &&
                static_cast<double>(k) * nominalNs_ - gap < nominalNs_ / 10) {
                sumNs_ += gap;
                periods_ += static_cast<uint64_t>(k);
                for (int64_t j = 1; j < k; ++j)
                    if (static_cast<double>(lastNs_) + static_cast<double>(j) * nominalNs_ >
                        static_cast<double>(waitStartNs + kWaitingMarginNs))
                        missed_ += 1;
            }
        }
        lastNs_ = signalNs;
    }
    // Time not spent waiting for blanks (panels parked, a timed-out wait) breaks the chain.
    void pause() { lastNs_ = 0; }

    uint64_t periods() const { return periods_; }
    uint64_t missed() const { return missed_; }
    double nominalNs() const { return nominalNs_; }
    // The measured period; 0 before any.
    double periodNs() const { return periods_ > 0 ? sumNs_ / static_cast<double>(periods_) : 0.0; }
    // How far the period lies off the mode's, in parts per million.
    double offPpm() const { return periods_ > 0 ? (periodNs() / nominalNs_ - 1.0) * 1e6 : 0.0; }

  private:
    double nominalNs_;
    int64_t lastNs_ = 0;
    double sumNs_ = 0.0;
    uint64_t periods_ = 0;
    uint64_t missed_ = 0;
};

}  // namespace corva
