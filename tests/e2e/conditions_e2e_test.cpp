// Each condition the wake figures rest on, broken by the simulated headset and kept: the run
// flags the condition that broke, and no other, and the wakes it broke, and no others.
#include "tests/e2e/e2e_checks.h"

#include "lines/printed_lines.h"

#include <map>
#include <set>

namespace corva::test {
namespace {

// What a run said of its conditions: the verdict of each, and each wake's failed ones
// (wake n is the n-th WAKE_PHASES line, from 1).
struct SaidConditions {
    std::map<std::string, std::string> verdicts;
    std::set<std::pair<int, std::string>> wakeFlags;
    int wakes = 0;
};

SaidConditions saidConditions(const std::string& out) {
    SaidConditions said;
    std::istringstream in(out);
    const lines::Skip skip;
    for (std::string line; std::getline(in, line);) {
        std::string_view name, verdict;
        if (lines::scan(lines::kWakePhases, line, skip, skip, skip, skip, skip))
            ++said.wakes;
        else if (lines::scan(lines::kWakeCondition, line, name, skip, skip))
            said.wakeFlags.emplace(said.wakes, std::string(name));
        else if (lines::scan(lines::kRunCondition, line, name, skip, verdict, skip))
            said.verdicts[std::string(name)] = std::string(verdict);
    }
    return said;
}

TEST(E2eConditions, EachBrokenConditionIsFlaggedWithTheWakesItBroke) {
    const std::vector<std::string> cycle = {"cycle", "3", "0.5", "0.5"};
    const std::vector<std::string> doze = {"doze", "2", "0.5", "0.5"};
    const std::vector<std::string> plain = {"4"};
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string scenario;
        std::set<std::string> failed;
        std::set<std::pair<int, std::string>> wakeFlags;
    } cases[] = {
        {"healthy cycle", cycle, "", {}, {}},
        {"healthy doze", doze, "", {}, {}},
        {"coarse timer",
         cycle,
         "coarse-timer",
         {"monitor poll", "parked poll"},
         {{1, "parked gap"}, {2, "parked gap"}, {3, "parked gap"}}},
        {"reader stalled at the second wake",
         cycle,
         "reader-stall wake 2 200",
         {"telemetry"},
         {{2, "reader stall"}}},
        {"slow vertical blank", plain, "vblank-ppm 8000", {"vertical blank"}, {}},
        {"every 8th vertical blank missing", plain, "vblank-miss 8", {"vertical blank"}, {}},
        {"machine asleep for a second", plain, "machine-sleep 2 1", {"machine", "telemetry"}, {}},
    };
    for (const auto& c : cases) {
        const SimProcessResult run = runSim(simOptions(c.args, "mode 64x32; " + c.scenario));
        ASSERT_TRUE(run.started) << c.what;
        EXPECT_EQ(run.exitCode, 0) << c.what << run.err;
        SaidConditions said = saidConditions(run.out);
        // A machine as loaded as this one's test runs (several builds on two cores) stretches the
        // 2 ms and 50 ms polls of any run, and a present loop held off its wait for a period
        // reads as a missed blank: where a row does not break them, their verdicts are not
        // compared (the false alarms of healthy runs are measured by hand).
        const bool pollsBroken = c.failed.count(lines::kMonitorPoll) != 0;
        const bool blankBroken = c.failed.count(lines::kVerticalBlank) != 0;
        std::erase_if(said.wakeFlags, [&](const auto& flag) {
            return flag.second == lines::kMonitorGap || (!pollsBroken && flag.second == lines::kParkedGap);
        });
        std::set<std::string> failed;
        for (const auto& [name, verdict] : said.verdicts) {
            const bool loadSensitive =
                name == lines::kVerticalBlank
                    ? !blankBroken
                    : !pollsBroken && (name == lines::kMonitorPoll || name == lines::kParkedPoll);
            if (verdict == lines::kFailed && !loadSensitive) failed.insert(name);
            EXPECT_TRUE(verdict == lines::kHeld || verdict == lines::kFailed || verdict == lines::kUnmeasured)
                << verdict;
        }
        EXPECT_EQ(said.verdicts.size(), 5u) << c.what << "\n" << run.out;
        EXPECT_EQ(failed, c.failed) << c.what << "\n" << run.out;
        EXPECT_EQ(said.wakeFlags, c.wakeFlags) << c.what << "\n" << run.out;
        // The machine's timer and throttling cannot be read here: never held.
        EXPECT_NE(said.verdicts.count(lines::kMachine) ? said.verdicts.at(lines::kMachine) : "", lines::kHeld)
            << c.what;
        // The conditions come after the monitor's last line and before the restore and result.
        EXPECT_TRUE(inOrder(run.out, {"BENCH_END", std::string(lines::kRunCondition.prefix()), "frames="}))
            << c.what;
    }
}

}  // namespace
}  // namespace corva::test
