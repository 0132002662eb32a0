// Seeded random runs of tessaray-sim: a mode, its arguments, one to four faults of the
// scenario language at moments of the run's phases, and sometimes a stop signal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corva::test {

struct ChaosRun {
    uint32_t seed = 0;
    std::vector<std::string> args;  // the program's command line, without its name
    std::string scenario;           // TESSARAY_SIM_SCENARIO
    int signal = 0;                 // 0: none; SIGINT or SIGTERM
    double signalAfter = 0.0;       // seconds after the first "prox " line
    bool mergeErrors = false;       // standard error into standard output (">log 2>&1")
    double boundSeconds = 0.0;      // the documented run bound plus start-up and teardown
    // More variables for the program ("NAME=value"), e.g. the telemetry interval.
    std::vector<std::string> environment;
};

ChaosRun chaosRun(uint32_t seed);

// A run from the kept-cases file: "ARGS | SCENARIO" (SCENARIO may be empty).
ChaosRun keptRun(const std::string& argsAndScenario);

// The command that replays `run` by hand, and the one that replays its checks.
std::string replayCommand(const ChaosRun& run);

}  // namespace corva::test
