// The run history's speed: LOGS copies of the captured runs (their start times changed) read
// and added as tessaray-report --history does, each added again (nothing may change), and
// the trend query over a history of TREND_RUNS runs. Prints each figure against its target.
//   history-bench [LOGS [TREND_RUNS]]     # default: 1000 10000
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "report/history_command.h"
#include "report/history_import.h"
#include "report/history_trend.h"
#include "report/log_files.h"
#include "report/log_text.h"

namespace {

using namespace corva::report;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What tessaray-report LOGS... --history FILE -q does: read, parse, key and add.
bool addAll(const std::string& history, const std::vector<std::string>& paths) {
    ReportOptions options;
    options.history = history;
    options.quiet = true;
    std::vector<ParsedLog> logs;
    std::vector<std::vector<std::string>> keys;
    loadLogs(paths, logs, [&](const ParsedLog& log, std::string_view bytes) {
        keys.push_back(runContentKeys(bytes, log));
    });
    return historyCommand(options, logs, keys, nullptr, TraceMatch{}) == 0;
}

std::string single(History& history, const char* sql) {
    Statement s(history.db(), sql);
    return s.ok() && s.step() == SQLITE_ROW ? s.text(0) : "?";
}

bool verdict(const char* what, double seconds, double target, const std::string& detail) {
    const bool met = seconds < target;
    std::printf("%-44s %8.2f s  (target < %g s: %s)  %s\n", what, seconds, target, met ? "met" : "NOT MET",
                detail.c_str());
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int trendRuns = argc > 2 ? std::atoi(argv[2]) : 10000;
    const fs::path dir = fs::temp_directory_path() / ("history-bench-" + std::to_string(count));
    fs::remove_all(dir);
    fs::create_directories(dir / "logs");
    const char* names[] = {"sim_cycle.log", "sim_doze.log", "sim_doze_unplug.log", "sim_cycle_nomcu.log"};
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        std::string log = readFile(std::string(TESSARAY_REPORT_TEST_LOGS) + "/" + names[i % 4]);
        const size_t at = log.find("INIT_START ");
        if (at == std::string::npos) {
            std::fprintf(stderr, "history-bench: no INIT_START in %s\n", names[i % 4]);
            return 2;
        }
        log.replace(at + 11, 12, formatClock(int64_t(i) * 997 % 86400000));
        paths.push_back((dir / "logs" / ("run-" + std::to_string(i) + ".log")).string());
        std::ofstream(paths.back(), std::ios::binary) << log;
    }
    const std::string history = (dir / "history.sqlite").string();
    bool met = true;

    auto start = Clock::now();
    if (!addAll(history, paths)) return 2;
    const double first = since(start);
    History h;
    if (h.open(history, HistoryAccess::ReadOnly) != HistoryStatus::Ok) return 2;
    met =
        verdict(
            ("add " + std::to_string(count) + " logs").c_str(), first, 30.0,
            single(h,
                   "SELECT count(*) || ' runs, ' || (SELECT count(*) FROM cycles) || ' cycles' FROM runs")) &&
        met;
    start = Clock::now();
    if (!addAll(history, paths)) return 2;
    const std::string again = single(h, "SELECT count(*) FROM runs");
    met = verdict("add each again", since(start), 30.0, again + " runs") && met;
    met = again == std::to_string(count) && met;

    // A history of trendRuns runs: the imported ones repeated under other keys, cycles and all.
    {
        History grow;
        if (grow.open(history, HistoryAccess::ReadWrite) != HistoryStatus::Ok) return 2;
        for (int copy = 1; copy * count < trendRuns; ++copy) {
            const std::string c = std::to_string(copy);
            const std::string sql =
                "BEGIN; CREATE TEMP TABLE copied AS SELECT * FROM runs WHERE content_key NOT LIKE '%-%';"
                "UPDATE copied SET id = id + " +
                std::to_string(copy * count) + ", content_key = content_key || '-" + c +
                "', started = started || '" + c +
                "';"
                "INSERT INTO runs SELECT * FROM copied;"
                "INSERT INTO cycles SELECT run_id + " +
                std::to_string(copy * count) +
                ", seq, cycle, outcome, condition_failed, wake_latency_ms, wake_react_ms, wake_mode_set_ms, "
                "wake_power_on_ms, wake_first_vblank_ms, displays_on_mid_ms, displays_on_lo_ms, "
                "displays_on_hi_ms, "
                "panel_wake_ms, park_ms, doze_ms, displays_off_ms FROM cycles WHERE run_id <= " +
                std::to_string(count) + "; DROP TABLE copied; COMMIT;";
            if (grow.exec(sql.c_str()) != HistoryStatus::Ok) {
                std::fprintf(stderr, "history-bench: %s\n", grow.error().c_str());
                return 2;
            }
        }
    }
    History trend;
    if (trend.open(history, HistoryAccess::ReadOnly) != HistoryStatus::Ok) return 2;
    start = Clock::now();
    std::vector<TrendSeries> series;
    if (loadTrend(trend, {}, series) != HistoryStatus::Ok) return 2;
    const std::string table = trendText(series, 20);
    const double query = since(start);
    size_t runs = 0;
    for (const TrendSeries& s : series) runs += s.runs.size();
    met = verdict("trend query and table", query, 1.0,
                  single(trend, "SELECT count(*) FROM runs") + " runs, " + std::to_string(runs) +
                      " benchmark runs in " + std::to_string(series.size()) + " series") &&
          met;
    std::printf("history file: %.1f MB (%s)\n", double(fs::file_size(history)) / 1e6, history.c_str());

    // As scripts/run-sim adds its runs: a tessaray-report process per log (each opens, checks
    // and closes the history, which writes its log of changes back).
    const std::string single = (dir / "single.sqlite").string();
    const int processes = std::min(count, 100);
    start = Clock::now();
    for (int i = 0; i < processes; ++i) {
        const std::string command =
            std::string(TESSARAY_REPORT_EXE) + " -q " + paths[size_t(i)] + " --history " + single;
        if (std::system(command.c_str()) != 0) return 2;
    }
    const double each = since(start) / processes;
    std::printf("%-44s %8.1f ms per log (%.1f s for %d)\n", "one tessaray-report per log", each * 1e3,
                each * count, count);
    fs::remove_all(dir);
    return met ? 0 : 1;
}
