#include "sim/programs/nvapi64_scenario.h"

#include "platform/platform.h"
#include "sim/headset/panel_link.h"
#include "sim/headset/scenario.h"
#include "sim/headset/scenario_dispatch.h"
#include "sim/headset/scenario_runner.h"
#include "sim/driver/sim_display.h"
#include "sim/driver/sim_driver_config.h"

#include <cstdio>
#include <mutex>

namespace corva::sim {

namespace {
constexpr char kWho[] = "nvapi64.dll (simulated)";
}  // namespace

void startScenarioFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const ScenarioParse parsed = scenarioFromEnvironment();
        if (!parsed.ok) {
            std::fprintf(stderr, "%s: bad TESSARAY_SIM_SCENARIO: %s\n", kWho, parsed.error.c_str());
            DriverFaults refused = faults();
            refused.initialize = kSimError;
            setFaults(refused);
            return;
        }
        applyDisplayStart(parsed.scenario);
        // The microcontroller runs in another process (the HID daemon): the panels' power
        // reaches its headset through the panel link file, when one is named.
        static PanelLinkWriter* link = new PanelLinkWriter();  // never destroyed, like the timeline
        if (link->active())
            setPanelPowerListener([](bool on, int64_t) {
                link->write({on, on && displayState().mode.dscEnable != 0});
            });
        // Never destroyed: like the hardware, the timeline runs until the process ends (a
        // thread still joinable at static destruction would abort the program).
        static auto* display = new ScenarioDisplay();
        auto* player = new TimelinePlayer();
        ScenarioDispatcher dispatcher;
        dispatcher.plug(EventTarget::Display, [](const TimedEvent& event) { display->handle(event); });
        dispatcher.play(*player, parsed.scenario.timeline, platform::steadyNowNs(), kWho);
    });
}

}  // namespace corva::sim
