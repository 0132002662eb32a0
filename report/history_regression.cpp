#include "report/history_regression.h"

#include <cstdio>
#include <set>

#include "report/stats.h"

namespace corva::report {
namespace {

struct Sides {
    std::vector<double> before;
    std::vector<double> newest;
    std::set<std::string> firmwareBefore;
    std::set<std::string> firmwareNewest;
};

Sides split(const TrendSeries& s, size_t newest, size_t figure) {
    Sides sides;
    const size_t cut = s.runs.size() - newest;
    for (size_t i = 0; i < s.runs.size(); ++i) {
        const TrendRun& run = s.runs[i];
        auto& values = i < cut ? sides.before : sides.newest;
        if (figure < run.values.size())
            values.insert(values.end(), run.values[figure].begin(), run.values[figure].end());
        (i < cut ? sides.firmwareBefore : sides.firmwareNewest)
            .insert(run.firmware.empty() ? "-" : run.firmware);
    }
    return sides;
}

std::string joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string plural(size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

RegressionCheck checkRegressions(const std::vector<TrendSeries>& series, const RegressionOptions& options) {
    RegressionCheck check;
    char line[512];
    for (const TrendSeries& s : series) {
        if (s.runs.size() <= options.newest) {
            check.text += "too few runs to tell: " + s.name() + ": " + plural(s.runs.size(), "run") +
                          ", the newest " + std::to_string(options.newest) +
                          " and at least one before needed\n";
            continue;
        }
        const Sides latency = split(s, options.newest, 0);
        const std::string against = "newest " + plural(options.newest, "run") + " (firmware " +
                                    joined(latency.firmwareNewest) + ") against " +
                                    plural(s.runs.size() - options.newest, "run") + " before (firmware " +
                                    joined(latency.firmwareBefore) + ")";
        if (latency.before.size() < kMinPerSide || latency.newest.size() < kMinPerSide) {
            check.text += "too few runs to tell: " + s.name() + ": " + std::to_string(latency.before.size()) +
                          " and " + std::to_string(latency.newest.size()) + " timed wakes, " +
                          std::to_string(kMinPerSide) + " on each side needed\n";
            continue;
        }
        bool any = false;
        std::string detail;
        for (size_t f = 0; f < trendMetrics().size(); ++f) {
            const Sides sides = f == 0 ? latency : split(s, options.newest, f);
            const Comparison c = compareMedians(sides.before, sides.newest);
            if (!c.enough) continue;
            const bool worse = c.low > 0 && c.difference >= options.thresholdMs;
            std::snprintf(line, sizeof line,
                          "  %s%s: %.1f -> %.1f ms (%+.1f ms, 95 %% interval %+.1f to %+.1f)\n",
                          worse ? "REGRESSED " : "", trendMetrics()[f].label, c.medianA, c.medianB,
                          c.difference, c.low, c.high);
            detail += line;
            any = any || worse;
        }
        std::snprintf(line, sizeof line, ", threshold %g ms\n", options.thresholdMs);
        check.text +=
            std::string(any ? "regression: " : "no regression: ") + s.name() + ": " + against + line + detail;
        check.regressed = check.regressed || any;
    }
    if (series.empty()) check.text += "too few runs to tell: the history holds no benchmark run\n";
    return check;
}

}  // namespace corva::report
