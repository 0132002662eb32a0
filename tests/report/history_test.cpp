// The run history: runs keyed by content, whole or not at all, concurrent imports, merges,
// files that are not a history, the trend's medians and the regression check.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "lines/printed_lines.h"
#include "report/history_import.h"
#include "report/history_regression.h"
#include "report/log_files.h"
#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/summary_text.h"
#include "tests/report/report_test_logs.h"
#include "tests/support/sample_lines.h"

namespace corva::report {
namespace {

namespace fs = std::filesystem;

// A folder of its own, copies of a captured run told apart by their start time, and
// histories made of them through the library.
struct Lab {
    fs::path dir =
        fs::temp_directory_path() / ("history-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Lab() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Lab() { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    static std::string variant(int i, const char* lineEnd = "\n") {
        std::string log = testing::readTestLog("sim_cycle.log");
        const std::string start = "INIT_START 08:22:35.648";
        log.replace(log.find(start), start.size(), "INIT_START " + formatClock(3600000 + i * 1000));
        // A figure of its own: each cycle tells its run.
        const std::string wake(lines::kWakeLatency.prefix());
        const size_t at = log.find(wake) + wake.size();
        log.replace(at, log.find(' ', at) - at, std::to_string(100 + i) + ".5");
        if (std::string(lineEnd) == "utf-16") return utf16(log);
        std::string out;
        for (const char c : log) c == '\n' ? out += lineEnd : out += c;
        return out;
    }

    // With a BOM and CRLF, as a Windows shell's > writes (the log's characters are all of the BMP).
    static std::string utf16(const std::string& log) {
        std::string out = "\xff\xfe";
        for (size_t i = 0; i < log.size();) {
            const auto c = static_cast<unsigned char>(log[i]);
            const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
            unsigned code = n == 1 ? c : c & (n == 2 ? 0x1Fu : 0x0Fu);
            for (size_t k = 1; k < n; ++k)
                code = code << 6 | (static_cast<unsigned char>(log[i + k]) & 0x3Fu);
            if (code == '\n') out.append("\r\0", 2);
            out += char(code & 0xFF);
            out += char(code >> 8);
            i += n;
        }
        return out;
    }

    static HistoryStatus add(const std::string& history, int from, int to,
                             const std::string& machine = "lab-1", void (*midRun)() = nullptr,
                             const char* lineEnd = "\n") {
        History h;
        if (HistoryStatus s = h.open(history, HistoryAccess::ReadWrite); s != HistoryStatus::Ok) return s;
        ImportSource source;
        source.machine = machine;
        source.midRun = midRun;
        ImportCount count;
        for (int i = from; i < to; ++i) {
            const std::string bytes = variant(i, lineEnd);
            const ParsedLog log = parseLog(bytes, "copy-" + std::to_string(i) + ".log");
            if (HistoryStatus s = importLog(h, log, runContentKeys(bytes, log), source, count);
                s != HistoryStatus::Ok)
                return s;
        }
        return HistoryStatus::Ok;
    }

    static std::string query(const std::string& history, const std::string& sql) {
        History h;
        if (h.open(history, HistoryAccess::ReadOnly) != HistoryStatus::Ok) return "not opened: " + h.error();
        Statement s(h.db(), sql.c_str());
        return s.ok() && s.step() == SQLITE_ROW ? s.text(0) : "no row";
    }
};

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(History, ARunIsKeptOnceByItsContentWithItsFirstMachine) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    const struct {
        int from, to;
        const char* machine;
        const char* lineEnd;
        const char* runs;
    } steps[] = {
        {0, 2, "lab-1", "\n", "2"},
        {0, 2, "lab-2", "\n", "2"},    // again, from another machine
        {1, 3, "lab-3", "\r\n", "3"},  // CRLF copies of one known run and one new
        {2, 4, "lab-4", "utf-16", "4"},
    };
    for (const auto& s : steps) {
        ASSERT_EQ(Lab::add(h, s.from, s.to, s.machine, nullptr, s.lineEnd), HistoryStatus::Ok);
        EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), s.runs);
    }
    EXPECT_EQ(Lab::query(h, "SELECT group_concat(machine, ' ') FROM (SELECT machine FROM runs ORDER BY id)"),
              "lab-1 lab-1 lab-3 lab-4");
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM cycles WHERE wake_latency_ms IS NOT NULL"), "12");
}

TEST(History, EveryRunAndCycleIsStoredAsTheReportReadsIt) {
    Lab lab;
    History h;
    ASSERT_EQ(h.open(lab.file("h.sqlite"), HistoryAccess::ReadWrite), HistoryStatus::Ok);
    std::vector<ParsedLog> logs;
    std::vector<std::vector<std::string>> keys;
    loadLogs({TESSARAY_REPORT_TEST_LOGS}, logs, [&](const ParsedLog& log, std::string_view bytes) {
        keys.push_back(runContentKeys(bytes, log));
    });
    ImportCount count;
    for (size_t i = 0; i < logs.size(); ++i)
        ASSERT_EQ(importLog(h, logs[i], keys[i], {}, count), HistoryStatus::Ok);
    const std::vector<const LoggedRun*> runs = allRuns(logs);
    ASSERT_EQ(count.added, runs.size());
    Statement row(
        h.db(),
        "SELECT mode, cycles, driver_version || iif(driver_branch = '', '', ' (' || driver_branch || ')'), "
        "firmware, display_mode, outcome, coalesce(exit_code, -1), failures, log_path, "
        "coalesce(frames, -1) FROM runs ORDER BY id");
    for (const LoggedRun* run : runs) {
        ASSERT_EQ(row.step(), SQLITE_ROW);
        EXPECT_EQ(row.text(0), modeName(run->mode)) << run->source;
        EXPECT_EQ(row.integer(1), run->cycleCount) << run->source;
        EXPECT_EQ(row.text(2), run->driverVersion) << run->source;
        EXPECT_EQ(row.text(3), run->firmware) << run->source;
        EXPECT_EQ(row.text(4), run->modeText) << run->source;
        EXPECT_EQ(row.text(5), runEndName(run->end)) << run->source;
        EXPECT_EQ(row.integer(6), runExitCode(*run)) << run->source;
        EXPECT_EQ(size_t(row.integer(7)), run->failures.size()) << run->source;
        EXPECT_EQ(row.text(8), run->source);
        EXPECT_EQ(row.integer(9), run->result.seen ? int64_t(run->result.frames) : -1) << run->source;
    }
    for (const MetricInfo& info : historyMetrics()) {
        Statement figures(h.db(), (std::string("SELECT ") + info.key() + " FROM cycles WHERE " + info.key() +
                                   " IS NOT NULL ORDER BY run_id, seq")
                                      .c_str());
        std::vector<double> stored;
        while (figures.step() == SQLITE_ROW) stored.push_back(figures.real(0));
        EXPECT_EQ(stored, runsMetric(runs, info.metric)) << info.key();
    }
}

TEST(History, TwoImportsAtOnceLoseNoRun) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    ASSERT_EQ(Lab::add(h, 0, 1), HistoryStatus::Ok);  // made before, as a lab's history is
    HistoryStatus first = HistoryStatus::Failed, second = HistoryStatus::Failed;
    std::thread a([&] { first = Lab::add(h, 1, 41); });
    std::thread b([&] { second = Lab::add(h, 41, 81); });
    a.join();
    b.join();
    EXPECT_EQ(first, HistoryStatus::Ok);
    EXPECT_EQ(second, HistoryStatus::Ok);
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), "81");
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM cycles"), "243");
}

TEST(History, MergedHistoriesHoldTheUnionOnceHoweverOftenMerged) {
    Lab lab;
    const std::string a = lab.file("a.sqlite"), b = lab.file("b.sqlite"), all = lab.file("all.sqlite");
    ASSERT_EQ(Lab::add(a, 0, 10, "pc-a"), HistoryStatus::Ok);
    ASSERT_EQ(Lab::add(b, 5, 15, "pc-b"), HistoryStatus::Ok);
    ASSERT_EQ(Lab::add(all, 20, 21), HistoryStatus::Ok);
    const std::string conditioned =
        "SELECT r.content_key || ' ' || c.name FROM conditions c JOIN runs r ON r.id = c.run_id";
    {
        History h;
        ASSERT_EQ(h.open(b, HistoryAccess::ReadWrite), HistoryStatus::Ok);
        ASSERT_EQ(
            h.exec(
                "INSERT INTO conditions SELECT id, 'wake latency', 150, 200, 'pass' FROM runs WHERE id = 8"),
            HistoryStatus::Ok);
    }
    for (int round = 0; round < 2; ++round) {
        History h;
        ASSERT_EQ(h.open(all, HistoryAccess::ReadWrite), HistoryStatus::Ok);
        for (const std::string& other : {a, b}) {
            ImportCount count;
            std::string error;
            ASSERT_EQ(mergeHistory(h, other, count, error), HistoryStatus::Ok) << error;
            EXPECT_EQ(count.added, round == 0 ? (other == a ? 10u : 5u) : 0u);
        }
    }
    EXPECT_EQ(Lab::query(all, "SELECT count(*) FROM runs"), "16");
    EXPECT_EQ(Lab::query(all, "SELECT count(*) FROM cycles"), "48");
    EXPECT_EQ(Lab::query(all, "SELECT count(*) FROM runs WHERE machine = 'pc-b'"), "5");
    EXPECT_EQ(Lab::query(all, conditioned), Lab::query(b, conditioned));
    // Every cycle went with its own run: the same figures as a fresh import of the same runs.
    const std::string figures =
        "SELECT group_concat(wake_latency_ms) FROM (SELECT c.wake_latency_ms FROM runs r JOIN cycles c ON "
        "c.run_id = r.id ORDER BY r.content_key, c.seq)";
    ASSERT_EQ(Lab::add(lab.file("fresh.sqlite"), 0, 15), HistoryStatus::Ok);
    ASSERT_EQ(Lab::add(lab.file("fresh.sqlite"), 20, 21), HistoryStatus::Ok);
    EXPECT_EQ(Lab::query(all, figures), Lab::query(lab.file("fresh.sqlite"), figures));
}

void dieMidRun() {
    std::_Exit(7);
}

TEST(History, AnImportKilledMidRunLeavesTheHistoryAsItWas) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    ASSERT_EQ(Lab::add(h, 0, 3), HistoryStatus::Ok);
    const std::string before =
        Lab::query(h, "SELECT count(*) || ' ' || (SELECT count(*) FROM cycles) FROM runs");
    EXPECT_EXIT(Lab::add(h, 3, 4, "lab-1", dieMidRun), ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(Lab::query(h, "SELECT count(*) || ' ' || (SELECT count(*) FROM cycles) FROM runs"), before);
    EXPECT_EQ(Lab::query(h, "PRAGMA quick_check"), "ok");
    ASSERT_EQ(Lab::add(h, 3, 4), HistoryStatus::Ok);  // and the run is not taken for known
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), "4");
}

TEST(History, AHistoryLockedTooLongIsLeftAsItWas) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    ASSERT_EQ(Lab::add(h, 0, 1), HistoryStatus::Ok);
    History holder;
    ASSERT_EQ(holder.open(h, HistoryAccess::ReadWrite), HistoryStatus::Ok);
    ASSERT_EQ(holder.exec("BEGIN IMMEDIATE"), HistoryStatus::Ok);
    History late;
    ASSERT_EQ(late.open(h, HistoryAccess::ReadWrite, 100), HistoryStatus::Ok);
    const std::string bytes = Lab::variant(5);
    const ParsedLog log = parseLog(bytes, "late.log");
    ImportCount count;
    EXPECT_EQ(importLog(late, log, runContentKeys(bytes, log), {}, count), HistoryStatus::Locked);
    EXPECT_NE(late.error().find("locked"), std::string::npos) << late.error();
    holder.exec("ROLLBACK");
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), "1");
}

int runReport(const std::string& arguments, std::string& errors, const fs::path& dir) {
    const fs::path said = dir / "stderr.txt";
    const int status = std::system(
        (std::string(TESSARAY_REPORT_EXE) + " " + arguments + " >/dev/null 2>" + said.string()).c_str());
    errors = bytesOf(said.string());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HistoryProgram, AFileThatIsNoHistoryGetsOneLineAndExit2AndStaysByteForByte) {
    Lab lab;
    const std::string good = lab.file("good.sqlite");
    ASSERT_EQ(Lab::add(good, 0, 40), HistoryStatus::Ok);
    const std::string history = bytesOf(good);
    std::string noise(8192, '\0');
    std::mt19937 random(42);
    for (char& c : noise) c = char(random());
    sqlite3* other = nullptr;
    sqlite3_open(lab.file("other.sqlite").c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE t (x); INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_EQ(Lab::add(lab.file("newer.sqlite"), 0, 1), HistoryStatus::Ok);
    sqlite3_open(lab.file("newer.sqlite").c_str(), &other);
    sqlite3_exec(other, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const struct {
        const char* name;
        std::string bytes;  // empty: made above
        const char* said;
    } cases[] = {
        {"noise.sqlite", noise, "not a tessaray history"},
        {"truncated.sqlite", history.substr(0, history.size() / 2), "damaged"},
        {"header.sqlite", history.substr(0, 60), "damaged"},
        {"pages-gone.sqlite", history.substr(0, 4096) + std::string(history.size() - 4096, '\0'), "damaged"},
        {"other.sqlite", "", "not a tessaray history"},
        {"newer.sqlite", "", "newer"},
    };
    const std::string log = std::string(TESSARAY_REPORT_TEST_LOGS) + "/sim_doze.log";
    for (const auto& c : cases) {
        const std::string path = lab.file(c.name);
        if (!c.bytes.empty()) std::ofstream(path, std::ios::binary) << c.bytes;
        const std::string before = bytesOf(path);
        for (const std::string& arguments :
             {"-q " + log + " --history " + path, "--history " + path + " --trend",
              "--history " + good + " --merge " + path}) {
            std::string errors;
            EXPECT_EQ(runReport(arguments, errors, lab.dir), 2) << c.name << ": " << arguments;
            EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << c.name << ": " << errors;
            EXPECT_NE(errors.find(c.said), std::string::npos) << c.name << ": " << errors;
            EXPECT_TRUE(bytesOf(path) == before) << c.name << ": " << arguments;
        }
    }
    EXPECT_TRUE(bytesOf(good) == history);
}

TEST(HistoryProgram, ProgramsAddingAtOnceOrKilledMidWayLeaveWholeRuns) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    auto folder = [&](const std::string& name, int from, int to) {
        fs::create_directories(lab.dir / name);
        for (int i = from; i < to; ++i)
            std::ofstream(lab.dir / name / ("run-" + std::to_string(i) + ".log"), std::ios::binary)
                << Lab::variant(i);
        return lab.file(name);
    };
    const std::string report = std::string(TESSARAY_REPORT_EXE) + " -q ";
    const std::string both = report + folder("a", 0, 60) + " --history " + h + " & " + report +
                             folder("b", 60, 120) + " --history " + h + " & wait";
    ASSERT_EQ(std::system(both.c_str()), 0);
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), "120");
    // Killed once it has added a run or two of many.
    const std::string many = folder("c", 120, 620);
    const pid_t child = fork();
    if (child == 0) {
        execl(TESSARAY_REPORT_EXE, TESSARAY_REPORT_EXE, "-q", many.c_str(), "--history", h.c_str(), nullptr);
        _exit(127);
    }
    for (int ms = 0; ms < 60000 && Lab::query(h, "SELECT count(*) > 120 FROM runs") != "1"; ++ms)
        usleep(1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the import ended before it was killed";
    const std::string partial =
        "SELECT count(*) FROM runs WHERE (SELECT count(*) FROM cycles WHERE run_id = id) != 3";
    EXPECT_EQ(Lab::query(h, partial), "0");
    ASSERT_EQ(std::system((report + many + " --history " + h).c_str()), 0);
    EXPECT_EQ(Lab::query(h, "SELECT count(*) FROM runs"), "620");
    EXPECT_EQ(Lab::query(h, partial), "0");
}

TEST(HistoryTrend, WakesUnderAFailedConditionStayOutOfTheMedians) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    ASSERT_EQ(Lab::add(h, 0, 1), HistoryStatus::Ok);  // wakes of 100.5, 161.1 and 179.5 ms
    for (const auto& [failed, included, median] :
         {std::tuple{"", false, 161.1}, std::tuple{"wake_latency_ms > 170", false, 130.8},
          std::tuple{"wake_latency_ms > 170", true, 161.1}}) {
        History history;
        ASSERT_EQ(history.open(h, HistoryAccess::ReadWrite), HistoryStatus::Ok);
        if (*failed)
            history.exec((std::string("UPDATE cycles SET condition_failed = 1 WHERE ") + failed).c_str());
        std::vector<TrendSeries> series;
        ASSERT_EQ(loadTrend(history, {}, series, included), HistoryStatus::Ok);
        ASSERT_EQ(series.size(), 1u);
        EXPECT_EQ(series[0].name(), "driver 551.23 (r550_00), cycle");
        EXPECT_NEAR(series[0].runs.at(0).median(0), median, 1e-9) << failed;
    }
    History history;  // only the series asked for: a run's own driver and mode
    ASSERT_EQ(history.open(h, HistoryAccess::ReadOnly), HistoryStatus::Ok);
    for (const auto& [mode, found] : {std::pair{"cycle", 1u}, std::pair{"doze", 0u}}) {
        std::vector<TrendSeries> series;
        ASSERT_EQ(loadTrend(history, {TrendSeries{"551.23", "r550_00", mode, {}}}, series),
                  HistoryStatus::Ok);
        EXPECT_EQ(series.size(), found) << mode;
    }
}

TEST(HistoryImport, CyclesOfARunWhoseConditionFailedAreMarked) {
    Lab lab;
    const std::string h = lab.file("h.sqlite");
    History history;
    ASSERT_EQ(history.open(h, HistoryAccess::ReadWrite), HistoryStatus::Ok);
    for (const auto& [i, verdict, marks] :
         {std::tuple{0, lines::kHeld, "0,0,0"}, std::tuple{1, lines::kFailed, "1,1,1"}}) {
        std::string bytes = Lab::variant(i);
        bytes.insert(
            bytes.rfind("\n", bytes.size() - 2) + 1,
            test::printed(lines::kRunCondition, lines::kMonitorPoll, "median 16.0 ms", verdict, "3.0 ms"));
        const ParsedLog log = parseLog(bytes, "run.log");
        ImportCount count;
        ASSERT_EQ(importLog(history, log, runContentKeys(bytes, log), ImportSource{}, count),
                  HistoryStatus::Ok);
        const std::string run = "(SELECT max(id) FROM runs)";
        EXPECT_EQ(Lab::query(h, "SELECT group_concat(condition_failed) FROM cycles WHERE run_id = " + run),
                  marks)
            << verdict;
    }
}

TEST(HistoryRegression, FlagsAWorseMedianBeyondItsIntervalAndTheThreshold) {
    auto series = [](std::vector<std::vector<double>> runs) {
        TrendSeries s{"551.23", "r550_00", "cycle", {}};
        for (auto& wakes : runs) s.runs.push_back({0, "", "pc", "", {wakes}});
        s.runs.back().firmware = "B";
        return s;
    };
    const std::vector<double> a1{100, 101, 99, 102, 100}, a2{98, 100, 101, 99, 100};
    const std::vector<double> slow{115, 116, 114, 117, 115}, same{100, 99, 101, 100, 102};
    const struct {
        std::vector<std::vector<double>> runs;
        double thresholdMs;
        bool regressed;
        const char* said;
        size_t newest = 1;
    } cases[] = {
        {{a1, a2, slow}, 5, true, "regression: "},
        {{a1, a2, same}, 5, false, "no regression: "},
        {{a1, a2, slow}, 20, false, "no regression: "},  // worse, but by less than the threshold
        {{slow}, 5, false, "too few runs to tell: "},
        {{{100, 101}, {115, 116}}, 5, false, "too few runs to tell: "},  // too few wakes on each side
        {{slow, a1}, 5, false, "no regression: "},                       // faster is no regression
        {{a1, slow, same}, 5, false, "no regression: ", 2},              // the newest two against the first
        {{a1, a2, slow, slow}, 5, true, "regression: ", 2},
        {{a1, a2}, 5, false, "too few runs to tell: ", 2},
    };
    for (const auto& c : cases) {
        const RegressionCheck check = checkRegressions({series(c.runs)}, {c.newest, c.thresholdMs});
        EXPECT_EQ(check.regressed, c.regressed) << check.text;
        EXPECT_EQ(check.text.rfind(c.said, 0), 0u) << check.text;
    }
}

}  // namespace
}  // namespace corva::report
