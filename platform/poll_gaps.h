// The gaps between a polling thread's looks, kept in a fixed histogram: recorded without
// allocating or locking by the thread that polls, read once it has stopped.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace corva {

class PollGaps {
  public:
    // 0.05 ms bins up to 102.4 ms: the 2 ms monitor's and the 50 ms parked poll's gaps, and a
    // coarse timer's 15.6 ms steps, each to well within their limits. Longer gaps fall in
    // the last bin; the longest is kept exactly.
    static constexpr int64_t kBinNs = 50000;
    static constexpr size_t kBins = 2048;

    // A look at `nowNs`: the gap from the previous one is counted.
    void look(int64_t nowNs) {
        if (lastNs_ != 0) add(nowNs - lastNs_);
        lastNs_ = nowNs;
    }
    // The next look starts afresh (the time since the last one was not spent polling).
    void pause() { lastNs_ = 0; }
    // The gap the last look ended (0 before the second look).
    int64_t lastGapNs() const { return lastGapNs_; }

    uint64_t count() const { return count_; }
    // The gap that `share` (0..1) of the gaps do not exceed, to the bin above; 0 without gaps.
    int64_t percentileNs(double share) const {
        if (count_ == 0) return 0;
        const uint64_t rank = static_cast<uint64_t>(share * static_cast<double>(count_ - 1));
        uint64_t below = 0;
        for (size_t bin = 0; bin < kBins; ++bin) {
            below += bins_[bin];
            if (below > rank)
                return bin + 1 == kBins ? maxNs_ : std::min(static_cast<int64_t>(bin + 1) * kBinNs, maxNs_);
        }
        return maxNs_;
    }
    int64_t medianNs() const { return percentileNs(0.5); }
    int64_t p99Ns() const { return percentileNs(0.99); }
    int64_t maxNs() const { return maxNs_; }

  private:
    void add(int64_t gapNs) {
        if (gapNs < 0) gapNs = 0;
        lastGapNs_ = gapNs;
        const int64_t bin = gapNs / kBinNs;
        bins_[bin < static_cast<int64_t>(kBins) ? static_cast<size_t>(bin) : kBins - 1] += 1;
        count_ += 1;
        if (gapNs > maxNs_) maxNs_ = gapNs;
    }

    std::array<uint32_t, kBins> bins_{};
    uint64_t count_ = 0;
    int64_t lastNs_ = 0;
    int64_t lastGapNs_ = 0;
    int64_t maxNs_ = 0;
};

}  // namespace corva
