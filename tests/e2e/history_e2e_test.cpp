// Runs of tessaray-sim on one firmware, then on another, added to a history: a firmware whose
// displays wake 15 ms slower is flagged as a regression, one as fast is not.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "report/report_options.h"
#include "tests/support/linux/sim_process.h"

namespace corva::test {
namespace {

namespace fs = std::filesystem;

TEST(E2eHistory, AFirmwareWithSlowerWakesIsFlaggedAndOneAsFastIsNot) {
    const fs::path dir = fs::temp_directory_path() / ("history-e2e-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Doze wakes (a park wake waits up to 50 ms for the parked loop's poll), a fixed transition
    // time and a 5 ms telemetry grid: the wakes differ by what the firmware does, within a few ms.
    auto run = [&](const std::string& name, const std::string& version, int wakeMs) {
        SimProcessOptions options = simOptions(
            {"doze", "5", "0.5", "0.5"}, "mcu-version " + version + "; wake-time " + std::to_string(wakeMs) +
                                             " " + std::to_string(wakeMs));
        const fs::path log = dir / (name + ".log"), trace = dir / (name + ".trace");
        options.environment = {"TESSARAY_TELEMETRY_MS=5", "TESSARAY_TRACE_FILE=" + trace.string()};
        options.mergeErrors = true;
        const SimProcessResult result = runSim(options);
        EXPECT_EQ(result.exitCode, 0) << result.out;
        std::ofstream(log, std::ios::binary) << result.out;
        return log.string() + " --trace " + trace.string();
    };
    auto report = [&](const std::string& arguments) {
        const int status = std::system((std::string(TESSARAY_REPORT_EXE) + " -q " + arguments + " >" +
                                        (dir / "out.txt").string() + " 2>&1")
                                           .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string a1 = run("a1", "1.0", 100), a2 = run("a2", "1.0", 100);
    const struct {
        const char* history;
        int wakeMs;
        int exitCode;
    } cases[] = {{"slower.sqlite", 115, report::kExitRegression}, {"as-fast.sqlite", 100, 0}};
    for (const auto& c : cases) {
        const std::string history = "--history " + (dir / c.history).string();
        const std::string b1 = run(std::string(c.history) + "1", "1.1", c.wakeMs);
        const std::string b2 = run(std::string(c.history) + "2", "1.1", c.wakeMs);
        for (const std::string& log : {a1, a2, b1, b2}) ASSERT_EQ(report(history + " " + log), 0);
        // The suite's loaded machine may fail a run's conditions; what is tested here is the
        // comparison (the conditions' own exclusion is a unit test's).
        const int code = report(history + " --trend --regressions --newest 2 --include-failed-conditions");
        std::ifstream said(dir / "out.txt");
        const std::string text{std::istreambuf_iterator<char>(said), std::istreambuf_iterator<char>()};
        EXPECT_EQ(code, c.exitCode) << text;
        EXPECT_NE(text.find("firmware 1.1) against 2 runs before (firmware 1.0)"), std::string::npos) << text;
        // In the order they were made, each with its trace and exit code.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2((dir / c.history).c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* runs = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT firmware, trace_path LIKE '%.trace', exit_code FROM runs ORDER BY started",
                           -1, &runs, nullptr);
        std::string order;
        while (sqlite3_step(runs) == SQLITE_ROW)
            for (int column = 0; column < 3; ++column)
                order += reinterpret_cast<const char*>(sqlite3_column_text(runs, column)) + std::string(" ");
        sqlite3_finalize(runs);
        // Each run's conditions, one row each as printed (RUN_CONDITION lines).
        sqlite3_prepare_v2(db, "SELECT count(*) FROM conditions", -1, &runs, nullptr);
        EXPECT_EQ(sqlite3_step(runs), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(runs, 0), 4 * 5);
        sqlite3_finalize(runs);
        sqlite3_close(db);
        EXPECT_EQ(order, "1.0 1 0 1.0 1 0 1.1 1 0 1.1 1 0 ");
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace corva::test
