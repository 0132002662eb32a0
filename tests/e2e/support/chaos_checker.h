// The invariants every run of tessaray-sim must keep, whatever faults it met: what the log
// says (read through tessaray-report's reader) against the simulated headset's ground truth.
#pragma once

#include "sim/headset/ground_truth.h"
#include "tests/e2e/support/chaos_run.h"
#include "tests/support/linux/sim_process.h"

#include <string>
#include <vector>

namespace corva::test {

// The ground truth tessaray-sim writes at exit; `read` false (with `error`) when it wrote none
// or one its reader refuses.
struct ChaosTruth {
    sim::GroundTruth truth;
    bool read = false;
    std::string error;
};

ChaosTruth readChaosTruth(const std::string& file);

// Every broken invariant, one line each; empty when the run kept them all.
std::vector<std::string> brokenInvariants(const ChaosRun& run, const SimProcessResult& result,
                                          const ChaosTruth& truth);

}  // namespace corva::test
