// Did the newest runs of a driver and mode get slower than the runs before them?
#pragma once

#include <string>
#include <vector>

#include "report/history_trend.h"

namespace corva::report {

struct RegressionOptions {
    size_t newest = 1;         // the runs judged: the newest this many of each series
    double thresholdMs = 5.0;  // a slower median counts only from this much on
};

struct RegressionCheck {
    std::string text;  // a line per series (and per regressed figure)
    bool regressed = false;
};

// For each series, each trend figure of its newest runs against all runs before them,
// whatever their firmware: the bootstrap comparison of medians that --compare prints. A
// regression is a figure whose median got worse by more than the threshold with a 95 %
// interval above zero.
RegressionCheck checkRegressions(const std::vector<TrendSeries>& series, const RegressionOptions& options);

}  // namespace corva::report
