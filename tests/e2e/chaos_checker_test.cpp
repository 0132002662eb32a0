// The chaos checker against a kept log: seed 84's run, in which the first cycle's wake was
// abandoned after its panels had been powered (so its displays-on transition kept the wake
// stamp) and the second cycle's wake came after the reconnect.
#include "tests/e2e/support/chaos_checker.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace corva::test {
namespace {

constexpr int64_t kMs = 1000000;

std::string keptLog() {
    std::ifstream in(TESSARAY_ROOT "/tests/e2e/data/chaos_seed84.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

sim::DisplaysTransition stampedWake(int64_t stampNs, double onMs, double firstReportMs) {
    sim::DisplaysTransition t;
    t.on = true;
    t.cause = sim::HeadsetInput::PanelPower;
    t.wakeStampNs = stampNs;
    t.requestNs = stampNs + 45 * kMs;
    t.visibleNs = stampNs + int64_t(onMs * 1e6);
    t.firstReportNs = stampNs + int64_t(firstReportMs * 1e6);
    return t;
}

std::vector<std::string> phaseFaults(const std::vector<std::string>& broken) {
    std::vector<std::string> found;
    for (const std::string& b : broken)
        if (b.find("cycle 2") != std::string::npos) found.push_back(b);
    return found;
}

// Cycle 2 printed 443.6 ms and on=391.2..441.5. Cycle 1's abandoned wake (displays on at
// 318.7 ms from its stamp, first seen 4.5 s later after the reconnect) fitted that latency
// as well as cycle 2's own wake did: the match has to start at the first report.
TEST(InvariantChecker, LatencyMatchesTheWakeWhoseFirstReportItFollows) {
    const int64_t cycle1 = 1000 * kMs, cycle2 = cycle1 + 4465 * kMs;
    struct Case {
        const char* what;
        double cycle2OnMs;
        bool phaseFault;
    };
    const Case cases[] = {
        {"the interval holds cycle 2's own wake", 401.2, false},
        {"the interval misses cycle 2's own wake", 380.0, true},
    };
    for (const Case& c : cases) {
        ChaosTruth truth;
        truth.read = true;
        truth.truth.transitions = {stampedWake(cycle1, 318.65, 4500.0),
                                   stampedWake(cycle2, c.cycle2OnMs, 441.4)};
        SimProcessResult result;
        result.started = true;
        result.exitCode = 0;
        result.out = keptLog();
        const ChaosRun run = keptRun(
            "cycle 2 0.6 0.8 | wake-time 286 379; at 1.24 replug; at 1.13 vblank-lost; "
            "at 0.42 present-fail 2");
        const std::vector<std::string> faults = phaseFaults(brokenInvariants(run, result, truth));
        EXPECT_EQ(!faults.empty(), c.phaseFault) << c.what << (faults.empty() ? "" : ": " + faults[0]);
    }
}

}  // namespace
}  // namespace corva::test
