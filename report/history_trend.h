// The history's trends: per driver and mode, each run's median wake figures in the order the
// runs were made. The one query the terminal table, the regression check and a trend page read.
#pragma once

#include <string>
#include <vector>

#include "report/history_store.h"
#include "report/metrics.h"

namespace corva::report {

// Wake latency and the wake's phases.
const std::vector<MetricInfo>& trendMetrics();

struct TrendRun {
    int64_t id = 0;
    std::string started;  // "YYYY-MM-DD hh:mm:ss.mmm", empty when unknown
    std::string machine;
    std::string firmware;
    // Per trend metric, the run's values: wakes under a failed condition are left out.
    std::vector<std::vector<double>> values;
    double median(size_t metric) const;  // -1 when the run has none
};

struct TrendSeries {
    std::string driver;  // "551.23"
    std::string branch;  // "r550_00"
    std::string mode;
    std::vector<TrendRun> runs;  // oldest first
    std::string name() const;    // "driver 551.23 (r550_00), cycle"
    bool operator==(const TrendSeries& o) const {
        return driver == o.driver && branch == o.branch && mode == o.mode;
    }
};

// Every benchmark run (cycle, doze) by series; only the series named in `only` when it is
// not empty (their runs are not looked at). Wakes taken under a failed condition stay out
// unless `includeFailedConditions` (the report's --include-failed-conditions).
HistoryStatus loadTrend(History& history, const std::vector<TrendSeries>& only,
                        std::vector<TrendSeries>& series, bool includeFailedConditions = false);

// The table on the terminal: per series its last `last` runs (0: all).
std::string trendText(const std::vector<TrendSeries>& series, size_t last);

}  // namespace corva::report
