// The invariants every run of tessaray-sim must keep, whatever faults it met: what the log
// says (read through tessaray-report's reader) against the simulated headset's ground truth
// and what the scenario's faults can explain (asked of the simulator's own scenario table).
// One checker, one set of tolerances: the fault table, the chaos suite and the benchmark
// runs all call it.
#pragma once

#include "lines/run_figures.h"
#include "sim/headset/ground_truth.h"
#include "tests/support/linux/sim_process.h"

#include <string>
#include <vector>

namespace corva::test {

// What a run was asked to do.
struct RunAsked {
    std::vector<std::string> args;  // the program's command line, without its name
    std::string scenario;           // TESSARAY_SIM_SCENARIO
    int signal = 0;                 // 0: none; SIGINT or SIGTERM
    bool mergeErrors = false;       // standard error into standard output (">log 2>&1")
    double boundSeconds = 0.0;      // the documented run bound plus start-up and teardown
};

// A printed wake latency is one of the headset's wakes when it lies between the first report
// that showed the displays on (less the binary rounding of the printed tenth) and that report
// plus one telemetry interval and room for a busy machine's scheduling.
constexpr double kLatencyEarlyMs = 0.1;
constexpr double kLatencyLateMs = 50.0 + 30.0;
bool latencyFitsWake(double printedMs, const sim::DisplaysTransition& wake);

// Exit codes of the program, from the one place the program and the report take them.
using run::kExitDisplayLost;
using run::kExitInitFailed;
using run::kExitOk;

// The ground truth tessaray-sim writes at exit; `read` false (with `error`) when it wrote none
// or one its reader refuses.
struct RunTruth {
    sim::GroundTruth truth;
    bool read = false;
    std::string error;
};

RunTruth readRunTruth(const std::string& file);

// Every broken invariant, one line each; empty when the run kept them all.
std::vector<std::string> brokenInvariants(const RunAsked& run, const SimProcessResult& result,
                                          const RunTruth& truth);

}  // namespace corva::test
