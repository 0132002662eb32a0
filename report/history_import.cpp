#include "report/history_import.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "report/log_parser.h"
#include "report/log_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace corva::report {
namespace {

// Two 64-bit hashes of different families: a collision in both over a lab's runs is
// beyond reach, and neither needs a library.
struct ContentHash {
    uint64_t fnv = 0xcbf29ce484222325ULL;
    uint64_t mix = 0x243f6a8885a308d3ULL;
    void add(std::string_view bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            fnv = (fnv ^ byte) * 0x100000001b3ULL;
            mix = (mix + byte + 1) * 0x9e3779b97f4a7c15ULL;
            mix ^= mix >> 29;
        }
    }
    std::string text() const {
        char out[40];
        std::snprintf(out, sizeof out, "%016llx%016llx", static_cast<unsigned long long>(fnv),
                      static_cast<unsigned long long>(mix));
        return out;
    }
};

std::string nowText() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32] = {};
    if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

std::string startedText(const LoggedRun& run, const std::string& date) {
    const int64_t ms = run.initStartMs != kNoTime ? run.initStartMs : run.firstMs;
    if (date.empty()) return {};
    return ms == kNoTime ? date : date + " " + formatClock(ms);
}

constexpr char kInsertRun[] =
    "INSERT INTO runs (content_key, machine, program_version, imported_by, imported_at, started, mode, "
    "cycles, active_s, hold_s, telemetry_ms, driver_version, driver_branch, firmware, display_mode, "
    "outcome, exit_code, frames, present_errors, wait_timeouts, free_run_events, display_lost, failures, "
    "log_path, log_run, trace_path) VALUES (?1, ?2, NULL, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
    "?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25) ON CONFLICT (content_key) DO NOTHING";

void bindRun(Statement& s, const LoggedRun& run, const std::string& key, const ImportSource& source,
             size_t index) {
    std::string driver, branch;
    splitDriverText(run.driverVersion, driver, branch);
    const std::string started = startedText(run, source.date);
    const int exitCode = runExitCode(run);
    s.bind(1, key).bind(2, source.machine).bind(3, source.version).bind(4, nowText());
    started.empty() ? s.bindNull(5) : s.bind(5, started);
    s.bind(6, modeName(run.mode)).bind(7, int64_t(run.cycleCount));
    run.activeSeconds >= 0 ? s.bind(8, run.activeSeconds) : s.bindNull(8);
    run.holdSeconds >= 0 ? s.bind(9, run.holdSeconds) : s.bindNull(9);
    run.telemetryMs > 0 ? s.bind(10, int64_t(run.telemetryMs)) : s.bindNull(10);
    s.bind(11, driver).bind(12, branch).bind(13, run.firmware).bind(14, run.modeText);
    s.bind(15, runEndName(run.end));
    exitCode >= 0 ? s.bind(16, int64_t(exitCode)) : s.bindNull(16);
    if (run.result.seen) {
        s.bind(17, int64_t(run.result.frames)).bind(18, int64_t(run.result.presentErrors));
        s.bind(20, int64_t(run.result.freeRunEvents)).bind(21, int64_t(run.result.displayLost));
    }
    if (run.result.presentSeen) s.bind(19, int64_t(run.result.waitTimeouts));
    s.bind(22, int64_t(run.failures.size())).bind(23, run.source).bind(24, int64_t(index));
    index == source.traceRun ? s.bind(25, source.tracePath) : s.bindNull(25);
}

std::string insertCycleSql() {
    // condition_failed is the fact, whatever --include-failed-conditions asked of this report:
    // the trend and the regressions leave those wakes out, as the report's statistics do.
    std::string columns =
        "run_id, seq, cycle, outcome, condition_failed, displays_on_lo_ms, displays_on_hi_ms";
    std::string values = "?1, ?2, ?3, ?4, ?5, ?6, ?7";
    int next = 8;
    for (const MetricInfo& info : historyMetrics()) {
        columns += std::string(", ") + info.key();
        values += ", ?" + std::to_string(next++);
    }
    return "INSERT INTO cycles (" + columns + ") VALUES (" + values + ")";
}

bool insertCycles(sqlite3* db, int64_t runId, const LoggedRun& run) {
    static const std::string sql = insertCycleSql();
    Statement s(db, sql.c_str());
    if (!s.ok()) return false;
    int64_t seq = 0;
    for (const Cycle& cycle : run.cycles) {
        s.bind(1, runId).bind(2, seq++).bind(3, int64_t(cycle.number)).bind(4, outcomeName(cycle.outcome));
        s.bind(5, int64_t(cycle.underFailedCondition ? 1 : 0));
        if (cycle.phases.seen && cycle.phases.interval)
            s.bind(6, cycle.phases.onLoMs).bind(7, cycle.phases.onHiMs);
        int column = 8;
        for (const MetricInfo& info : historyMetrics())
            s.bind(column++, cycleMetric(run, cycle, info.metric));
        if (!s.run()) return false;
    }
    return true;
}

// The run's RUN_CONDITION lines, one row each, as printed.
bool insertConditions(sqlite3* db, int64_t runId, const LoggedRun& run) {
    Statement s(
        db,
        "INSERT INTO conditions (run_id, name, figure, limit_value, verdict) VALUES (?1, ?2, ?3, ?4, ?5)");
    if (!s.ok()) return false;
    for (const RunCondition& c : run.conditions) {
        s.bind(1, runId).bind(2, c.name).bind(3, c.figures).bind(4, c.limit).bind(5, c.verdict);
        if (!s.run()) return false;
    }
    return true;
}

// One run, whole or not at all.
HistoryStatus importRun(History& history, const LoggedRun& run, const std::string& key,
                        const ImportSource& source, size_t index, bool& added) {
    Transaction transaction(history);
    if (transaction.status() != HistoryStatus::Ok) return transaction.status();
    Statement insert(history.db(), kInsertRun);
    if (!insert.ok()) return history.fail("cannot add a run");
    bindRun(insert, run, key, source, index);
    if (insert.step() != SQLITE_DONE) return history.fail("cannot add a run");
    added = sqlite3_changes(history.db()) > 0;
    if (!added) return HistoryStatus::Ok;  // known by its content: its first import stands
    if (source.midRun != nullptr) source.midRun();
    const int64_t runId = sqlite3_last_insert_rowid(history.db());
    if (!insertCycles(history.db(), runId, run)) return history.fail("cannot add a run's cycles");
    if (!insertConditions(history.db(), runId, run)) return history.fail("cannot add a run's conditions");
    return transaction.commit();
}

}  // namespace

std::vector<MetricInfo> historyMetrics() {
    std::vector<MetricInfo> metrics;
    for (const MetricInfo& info : kMetrics)
        if (info.metric != Metric::DisplaysOnSpan) metrics.push_back(info);
    return metrics;
}

std::vector<std::string> runContentKeys(std::string_view logBytes, const ParsedLog& log) {
    const LogText text = decodeLogBytes(logBytes);
    std::vector<ContentHash> hashes(log.runs.size());
    size_t run = 0;
    forEachLine(text.text, [&](std::string_view line, size_t number) {
        while (run < log.runs.size() && number > log.runs[run].lastLine) ++run;
        if (run == log.runs.size() || number < log.runs[run].firstLine) return;
        hashes[run].add(line);
        hashes[run].add("\n");
    });
    std::vector<std::string> keys;
    for (const ContentHash& hash : hashes) keys.push_back(hash.text());
    return keys;
}

HistoryStatus importLog(History& history, const ParsedLog& log, const std::vector<std::string>& keys,
                        const ImportSource& source, ImportCount& count) {
    for (size_t i = 0; i < log.runs.size(); ++i) {
        bool added = false;
        if (HistoryStatus s = importRun(history, log.runs[i], keys[i], source, i + 1, added);
            s != HistoryStatus::Ok)
            return s;
        ++(added ? count.added : count.known);
    }
    return HistoryStatus::Ok;
}

void splitDriverText(const std::string& text, std::string& version, std::string& branch) {
    const size_t open = text.find(" (");
    version = text.substr(0, open);
    branch.clear();
    if (open != std::string::npos && text.back() == ')')
        branch = text.substr(open + 2, text.size() - open - 3);
}

std::string thisMachineName() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size)) {
        char utf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)];
        const int n = WideCharToMultiByte(CP_UTF8, 0, name, int(size), utf8, sizeof utf8, nullptr, nullptr);
        if (n > 0) return std::string(utf8, size_t(n));
    }
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
#endif
    return "unknown";
}

}  // namespace corva::report
