#include "report/history_command.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

#include "report/console.h"
#include "report/history_import.h"
#include "report/history_regression.h"
#include "report/html_report.h"
#include "report/log_parser.h"
#include "tessaray_version.h"

namespace corva::report {
namespace {

int refused(const std::string& path, const std::string& error) {
    complain("%s: %s", path.c_str(), error.c_str());
    return 2;
}

// The driver and mode of each benchmark run of the logs.
std::vector<TrendSeries> seriesOf(const std::vector<ParsedLog>& logs, size_t count) {
    std::vector<TrendSeries> series;
    for (size_t i = 0; i < count; ++i)
        for (const LoggedRun& run : logs[i].runs) {
            TrendSeries s;
            splitDriverText(run.driverVersion, s.driver, s.branch);
            s.mode = modeName(run.mode);
            if (std::find(series.begin(), series.end(), s) == series.end()) series.push_back(s);
        }
    return series;
}

int64_t runsInAll(History& history) {
    Statement count(history.db(), "SELECT count(*) FROM runs");
    return count.ok() && count.step() == SQLITE_ROW ? count.integer(0) : -1;
}

}  // namespace

int historyCommand(const ReportOptions& options, const std::vector<ParsedLog>& logs,
                   const std::vector<std::vector<std::string>>& keys, const trace::TraceFile* trace,
                   const TraceMatch& match) {
    const bool changes = !keys.empty() || !options.merge.empty();
    History history;
    if (history.open(options.history, changes ? HistoryAccess::ReadWrite : HistoryAccess::ReadOnly,
                     options.busyTimeoutMs) != HistoryStatus::Ok)
        return refused(options.history, history.error());

    ImportSource source;
    source.machine = options.machine.empty() ? thisMachineName() : options.machine;
    source.version = TESSARAY_VERSION_STRING;
    ImportCount count;
    for (size_t i = 0; i < keys.size(); ++i) {
        const ParsedLog& log = logs[i];
        source.traceRun = 0;
        for (size_t r = 0; r < log.runs.size(); ++r)
            if (match.run == &log.runs[r] && trace != nullptr) {
                source.traceRun = r + 1;
                source.tracePath = trace->source;
            }
        source.date =
            log.source == "-" ? std::string() : runDate(source.traceRun > 0 ? trace : nullptr, log.source);
        if (importLog(history, log, keys[i], source, count) != HistoryStatus::Ok)
            return refused(options.history, history.error());
    }
    for (const std::string& other : options.merge) {
        std::string error;
        if (mergeHistory(history, other, count, error) != HistoryStatus::Ok) return refused(other, error);
    }
    if (changes && !options.quiet)
        sayFormat("history %s: %zu run%s added, %zu already there; %lld in all\n", options.history.c_str(),
                  count.added, count.added == 1 ? "" : "s", count.known,
                  static_cast<long long>(runsInAll(history)));
    if (!options.trend && !options.regressions) return 0;

    std::vector<TrendSeries> series;
    if (loadTrend(history, seriesOf(logs, keys.size()), series, options.includeFailedConditions) !=
        HistoryStatus::Ok)
        return refused(options.history, history.error());
    if (options.trend) say(trendText(series, options.last));
    if (!options.regressions) return 0;
    const RegressionCheck check = checkRegressions(series, {options.newest, options.thresholdMs});
    say(check.text);
    return check.regressed ? kExitRegression : 0;
}

}  // namespace corva::report
