// Random faults checked by invariants: each seed gives a run of tessaray-sim with faults at
// random moments (tests/e2e/support/chaos_run.h), checked against the headset's ground
// truth (chaos_checker.h). CI runs a fixed set of seeds and every case of chaos_kept.txt;
// scripts/chaos runs more by hand (TESSARAY_CHAOS_SEEDS, TESSARAY_CHAOS_FROM).
#include "tests/e2e/e2e_checks.h"
#include "tests/e2e/support/chaos_checker.h"
#include "tests/e2e/support/chaos_kept.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

namespace corva::test {
namespace {

constexpr uint32_t kCiSeeds = 104;
constexpr uint32_t kCiBatches = 4;

// The line that keeps a run that broke an invariant: its seed, or its arguments and scenario.
KeptCase keptCaseOf(const ChaosRun& run, const std::string& finding) {
    KeptCase kept;
    if (run.seed != 0) kept.seed = run.seed;
    for (const std::string& a : run.args) kept.args += (kept.args.empty() ? "" : " ") + a;
    kept.scenario = run.scenario;
    kept.finding = finding;
    return kept;
}

// Runs each case, `jobs` at a time (a run keeps a fraction of a core busy), and reports
// every case that broke an invariant with the command that replays it.
void runAndCheck(const std::vector<ChaosRun>& runs) {
    const char* jobsText = std::getenv("TESSARAY_CHAOS_JOBS");
    const int jobs = jobsText != nullptr && std::atoi(jobsText) > 0 ? std::atoi(jobsText) : 3;
    std::atomic<size_t> next{0};
    std::mutex reportLock;
    auto worker = [&] {
        for (size_t i = next++; i < runs.size(); i = next++) {
            const ChaosRun& run = runs[i];
            const std::string truthFile = tempFile("chaos-" + std::to_string(i) + "-truth.txt");
            SimProcessOptions options = simOptions(run.args, run.scenario, truthFile);
            options.timeoutSeconds = run.boundSeconds + 20.0;
            options.mergeErrors = run.mergeErrors;
            options.environment.insert(options.environment.end(), run.environment.begin(),
                                       run.environment.end());
            if (run.signal != 0) {
                options.interruptAfter = "prox ";
                options.interruptDelaySeconds = run.signalAfter;
                options.interruptSignal = run.signal;
            }
            const SimProcessResult result = runSim(options);
            const ChaosTruth truth = readChaosTruth(truthFile);
            std::remove(truthFile.c_str());
            const std::vector<std::string> broken = brokenInvariants(run, result, truth);
            if (broken.empty()) continue;
            std::lock_guard<std::mutex> lock(reportLock);
            std::string list;
            for (const std::string& b : broken) list += "  - " + b + "\n";
            ADD_FAILURE() << "broken invariants:\n"
                          << list << "replay: " << replayCommand(run) << "\nkeep (tests/e2e/chaos_kept.txt): "
                          << formatKeptCase(keptCaseOf(run, broken.front())) << "\n--- log (exit "
                          << result.exitCode << ", " << result.seconds << " s) ---\n"
                          << result.out << result.err;
        }
    };
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j) workers.emplace_back(worker);
    worker();
    for (std::thread& t : workers) t.join();
}

std::vector<ChaosRun> seeds(uint32_t from, uint32_t count) {
    std::vector<ChaosRun> runs;
    for (uint32_t s = from; s < from + count; ++s) runs.push_back(chaosRun(s));
    return runs;
}

class ChaosSeeds : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ChaosSeeds, KeepEveryInvariant) {
    const uint32_t perBatch = kCiSeeds / kCiBatches;
    runAndCheck(seeds(1 + GetParam() * perBatch, perBatch));
}

INSTANTIATE_TEST_SUITE_P(Chaos, ChaosSeeds, ::testing::Range(0u, kCiBatches));

// Seeds and minimised scenarios that once broke an invariant: "SEED" or "ARGS | SCENARIO",
// each with a comment saying what it found.
TEST(ChaosKept, KeepEveryInvariant) {
    std::vector<KeptCase> kept;
    std::string error;
    ASSERT_TRUE(readKeptCasesFile(TESSARAY_ROOT "/tests/e2e/chaos_kept.txt", kept, error)) << error;
    std::vector<ChaosRun> runs;
    for (const KeptCase& c : kept)
        runs.push_back(c.seed ? chaosRun(*c.seed) : keptRun(c.args + " | " + c.scenario));
    ASSERT_FALSE(runs.empty());
    runAndCheck(runs);
}

// Each behaviour of the MCU firmware once, at 5 ms telemetry: every printed interval must hold
// the truth (scripts/wake-latency-accuracy measures how wide they are).
TEST(ChaosFirmware, EachBehaviourAtFiveMilliseconds) {
    const char* const behaviours[] = {
        "doze 3 0.5 0.5 | mcu-restart doze wake command",
        "doze 3 0.5 0.5 | mcu-jitter 2",
        "cycle 3 0.5 0.5 | mcu-poll 8",
        "cycle 3 0.5 0.5 | mcu-drift 300",
        "doze 3 0.5 0.5 | mcu-lose 10",
        "doze 3 0.5 0.5 | mcu-restart command; mcu-jitter 1; mcu-poll 2; mcu-drift -200; mcu-lose 5",
    };
    std::vector<ChaosRun> runs;
    for (const char* b : behaviours) {
        runs.push_back(keptRun(b));
        runs.back().environment = {"TESSARAY_TELEMETRY_MS=5"};
    }
    runAndCheck(runs);
}

// By hand (scripts/chaos): TESSARAY_CHAOS_SEEDS seeds from TESSARAY_CHAOS_FROM.
TEST(ChaosByHand, KeepEveryInvariant) {
    const char* count = std::getenv("TESSARAY_CHAOS_SEEDS");
    if (count == nullptr) GTEST_SKIP() << "set TESSARAY_CHAOS_SEEDS (scripts/chaos)";
    const char* from = std::getenv("TESSARAY_CHAOS_FROM");
    runAndCheck(seeds(from != nullptr ? uint32_t(std::stoul(from)) : 1u, uint32_t(std::stoul(count))));
}

}  // namespace
}  // namespace corva::test
