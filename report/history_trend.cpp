#include "report/history_trend.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

#include "report/stats.h"

namespace corva::report {
namespace {

// ?1: 1 to take in the wakes taken under a failed condition too.
std::string trendSql() {
    std::string figures;
    for (const MetricInfo& info : trendMetrics()) figures += std::string(", c.") + info.key();
    // The index on runs gives this order without a sort; cycles follow by their key.
    return "SELECT r.id, r.driver_version, r.driver_branch, r.mode, coalesce(r.started, ''), r.machine, "
           "r.firmware" +
           figures +
           " FROM runs r LEFT JOIN cycles c ON c.run_id = r.id AND (c.condition_failed = 0 OR ?1) "
           "WHERE r.mode IN ('cycle', 'doze', 'benchmark') "
           "ORDER BY r.driver_version, r.driver_branch, r.mode, r.started, r.id, c.seq";
}

bool wanted(const std::vector<TrendSeries>& only, const TrendSeries& s) {
    return only.empty() || std::find(only.begin(), only.end(), s) != only.end();
}

std::string ms(double value) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

const std::vector<MetricInfo>& trendMetrics() {
    static const std::vector<MetricInfo> metrics = [] {
        std::vector<MetricInfo> list;
        for (const MetricInfo& info : kMetrics)
            if (info.metric == Metric::WakeLatency ||
                (info.metric >= Metric::WakeReact && info.metric <= Metric::DisplaysOnMid))
                list.push_back(info);
        return list;
    }();
    return metrics;
}

double TrendRun::median(size_t metric) const {
    if (metric >= values.size() || values[metric].empty()) return -1.0;
    return summarise(values[metric]).median;
}

std::string TrendSeries::name() const {
    std::string text = "driver " + (driver.empty() ? std::string("unknown") : driver);
    if (!branch.empty()) text += " (" + branch + ")";
    return text + ", " + mode;
}

HistoryStatus loadTrend(History& history, const std::vector<TrendSeries>& only,
                        std::vector<TrendSeries>& series, bool includeFailedConditions) {
    static const std::string sql = trendSql();
    Statement s(history.db(), sql.c_str());
    if (!s.ok()) return history.fail("cannot read the history");
    s.bind(1, int64_t(includeFailedConditions ? 1 : 0));
    const size_t figures = trendMetrics().size();
    int step = SQLITE_ROW;
    while ((step = s.step()) == SQLITE_ROW) {
        TrendSeries key{s.text(1), s.text(2), s.text(3), {}};
        if (series.empty() || !(series.back() == key)) {
            if (!wanted(only, key)) continue;
            series.push_back(std::move(key));
        }
        std::vector<TrendRun>& runs = series.back().runs;
        const int64_t id = s.integer(0);
        if (runs.empty() || runs.back().id != id) {
            runs.push_back({id, s.text(4), s.text(5), s.text(6), std::vector<std::vector<double>>(figures)});
        }
        for (size_t f = 0; f < figures; ++f)
            if (!s.isNull(int(7 + f))) runs.back().values[f].push_back(s.real(int(7 + f)));
    }
    return step == SQLITE_DONE ? HistoryStatus::Ok : history.fail("cannot read the history");
}

std::string trendText(const std::vector<TrendSeries>& series, size_t last) {
    // Columns padded by hand: a long machine name widens its row, it is never cut. Each cell is
    // appended in place, after one space.
    std::string out;
    auto left = [&out](const std::string& text, size_t width) {
        out += ' ';
        out += text;
        if (text.size() < width) out.append(width - text.size(), ' ');
    };
    auto right = [&out](const std::string& text, size_t width) {
        out += ' ';
        if (text.size() < width) out.append(width - text.size(), ' ');
        out += text;
    };
    for (const TrendSeries& s : series) {
        out += "trend: " + s.name() + ", " + std::to_string(s.runs.size()) + " runs; medians in ms\n";
        out += ' ';
        left("started", 23);
        left("machine", 12);
        left("firmware", 10);
        right("wakes", 5);
        for (const MetricInfo& info : trendMetrics())
            right(info.label + (info.metric == Metric::WakeLatency ? 0 : 6), 12);
        out += "\n";
        const size_t from = last > 0 && s.runs.size() > last ? s.runs.size() - last : 0;
        for (size_t i = from; i < s.runs.size(); ++i) {
            const TrendRun& run = s.runs[i];
            out += ' ';
            left(run.started.empty() ? "-" : run.started, 23);
            left(run.machine, 12);
            left(run.firmware.empty() ? "-" : run.firmware, 10);
            right(std::to_string(run.values.empty() ? size_t(0) : run.values[0].size()), 5);
            for (size_t f = 0; f < trendMetrics().size(); ++f) right(ms(run.median(f)), 12);
            out += "\n";
        }
    }
    if (series.empty()) out += "trend: no benchmark run (cycle or doze) of these to show\n";
    return out;
}

}  // namespace corva::report
