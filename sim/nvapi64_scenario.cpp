#include "sim/nvapi64_scenario.h"

#include "platform/platform.h"
#include "sim/scenario.h"
#include "sim/scenario_runner.h"
#include "sim/sim_driver_config.h"

#include <cstdio>
#include <mutex>

namespace corva::sim {

void startScenarioFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const ScenarioParse parsed = scenarioFromEnvironment();
        if (!parsed.ok) {
            std::fprintf(stderr, "nvapi64.dll (simulated): bad TESSARAY_SIM_SCENARIO: %s\n",
                         parsed.error.c_str());
            DriverFaults refused = faults();
            refused.initialize = kSimError;
            setFaults(refused);
            return;
        }
        applyDisplayStart(parsed.scenario);
        if (parsed.scenario.timeline.empty()) return;
        // Never destroyed: like the hardware, the timeline runs until the process ends (a
        // thread still joinable at static destruction would abort the program).
        auto* player = new TimelinePlayer();
        player->start(parsed.scenario.timeline, platform::steadyNowNs(),
                      [](const TimedEvent& event) { applyDisplayEvent(event); });
    });
}

}  // namespace corva::sim
