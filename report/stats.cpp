#include "report/stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace corva::report {
namespace {

// SplitMix64: small, and the same sequence on every platform and standard library.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return static_cast<size_t>(next() % n); }

  private:
    uint64_t state_;
};

double medianOfResample(const std::vector<double>& values, Random& random, std::vector<double>& scratch) {
    scratch.resize(values.size());
    for (double& v : scratch) v = values[random.below(values.size())];
    const size_t mid = scratch.size() / 2;
    std::nth_element(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(mid), scratch.end());
    const double upper = scratch[mid];
    if (scratch.size() % 2) return upper;
    const double lower =
        *std::max_element(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2.0;
}

}  // namespace

double quantileSorted(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0.0;
    const double pos = q * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(pos));
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (pos - static_cast<double>(below));
}

Summary summarise(std::vector<double> values) {
    Summary s;
    s.n = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.max = values.back();
    s.median = quantileSorted(values, 0.5);
    s.p95 = quantileSorted(values, 0.95);
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(s.n);
    if (s.n > 1) {
        double squares = 0.0;
        for (double v : values) squares += (v - s.mean) * (v - s.mean);
        s.stddev = std::sqrt(squares / static_cast<double>(s.n - 1));
    }
    return s;
}

Comparison compareMedians(const std::vector<double>& a, const std::vector<double>& b) {
    Comparison c;
    c.nA = a.size();
    c.nB = b.size();
    if (a.empty() || b.empty()) return c;
    c.medianA = summarise(a).median;
    c.medianB = summarise(b).median;
    c.difference = c.medianB - c.medianA;
    c.enough = a.size() >= kMinPerSide && b.size() >= kMinPerSide;

    Random random(kBootstrapSeed);
    std::vector<double> differences(kBootstrapRounds);
    std::vector<double> scratch;
    for (double& d : differences) {
        const double ma = medianOfResample(a, random, scratch);
        d = medianOfResample(b, random, scratch) - ma;
    }
    std::sort(differences.begin(), differences.end());
    c.low = quantileSorted(differences, 0.025);
    c.high = quantileSorted(differences, 0.975);
    c.significant = c.enough && (c.low > 0.0 || c.high < 0.0);
    return c;
}

}  // namespace corva::report
