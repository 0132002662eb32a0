// Descriptive statistics of durations, and the A/B comparison of two sets of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::report {

struct Summary {
    size_t n = 0;
    double min = 0.0;
    double median = 0.0;
    double mean = 0.0;
    double p95 = 0.0;
    double max = 0.0;
    double stddev = 0.0;  // sample standard deviation, 0 for fewer than two values
};

Summary summarise(std::vector<double> values);

// Quantile q in [0, 1] of sorted values, interpolated between neighbours.
double quantileSorted(const std::vector<double>& sorted, double q);

struct Comparison {
    size_t nA = 0;
    size_t nB = 0;
    double medianA = 0.0;
    double medianB = 0.0;
    double difference = 0.0;  // median of B minus median of A
    double low = 0.0;         // 95 % confidence interval of the difference
    double high = 0.0;
    bool significant = false;  // the interval leaves out zero
    bool enough = false;       // at least kMinPerSide values on each side
};

constexpr size_t kMinPerSide = 5;
constexpr int kBootstrapRounds = 10000;
constexpr uint64_t kBootstrapSeed = 0x7e55a7a4ULL;

// Percentile bootstrap of the difference of medians, with a fixed seed so the same logs
// always give the same interval.
Comparison compareMedians(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace corva::report
