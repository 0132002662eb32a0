// The invariants every run of tessaray-sim must keep, whatever faults it met: what the log
// says (read through tessaray-report's reader) against the simulated headset's ground truth.
#pragma once

#include "tests/e2e/support/chaos_run.h"
#include "tests/support/linux/sim_process.h"

#include <string>
#include <vector>

namespace corva::test {

// The ground truth tessaray-sim writes at exit, as far as the checks need it.
struct ChaosTruth {
    struct Transition {
        bool on = false;
        std::string cause;
        long long requestNs = 0, visibleNs = 0, firstReportNs = 0, wakeStampNs = 0;
    };
    std::vector<Transition> transitions;
    int bypassAtExit = -1;          // the microcontroller's bypass when the program ended
    int answeringAtExit = -1;       // it was plugged in, set up and streaming
    std::string bypassCommands;     // 'p' and '[' as the microcontroller received them, in order
    bool commandsRecorded = false;  // the truth lists them (else the order checks are skipped)
    bool read = false;
};

ChaosTruth readChaosTruth(const std::string& file);

// Every broken invariant, one line each; empty when the run kept them all.
std::vector<std::string> brokenInvariants(const ChaosRun& run, const SimProcessResult& result,
                                          const ChaosTruth& truth);

}  // namespace corva::test
