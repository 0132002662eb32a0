// The simulated driver as nvapi64.dll, for the real program under Wine: the one export the
// loader looks up, undecorated. The scenario comes from the environment, as for
// tessaray-sim (TESSARAY_SIM_SCENARIO); only the display's events act here.
#include "lines/simulator_lines.h"
#include "platform/platform.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_display.h"
#include "sim/driver/sim_driver.h"
#include "sim/driver/sim_driver_config.h"
#include "sim/headset/panel_link.h"
#include "sim/headset/scenario_dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace corva::sim {
namespace {

constexpr char kCallLogVariable[] = "TESSARAY_SIM_CALL_LOG_FILE";

// The driver's record of the calls it receives, for a test in another process.
void appendCallsToFileFromEnvironment() {
    const char* path = std::getenv(kCallLogVariable);
    if (path == nullptr || *path == '\0') return;
    if (std::FILE* file = std::fopen(path, "ab"))
        CallLog::instance().appendTo(file);
    else
        lines::printSimulatorLine(lines::kDriverCallLogNotAppended, kCallLogVariable, path);
}

// Once per process, when the program first reaches the driver: the display set up for the
// scenario and its timeline played, counted from this moment. A scenario that cannot be
// read makes the driver's initialisation fail.
void startScenario() {
    appendCallsToFileFromEnvironment();
    Scenario scenario;
    if (!loadScenario(lines::kSimDriverVoice, scenario)) {
        DriverFaults refused = faults();
        refused.initialize = kSimError;
        setFaults(refused);
        return;
    }
    applyDisplayStart(scenario);
    // Never destroyed, like the hardware: the timeline runs until the process ends (a thread
    // still joinable at static destruction would abort the program). The microcontroller
    // runs in another process (the HID daemon), reached through the panel link file if named.
    connectPanelPower(*new PanelLinkWriter(), nullptr);
    static auto* display = new ScenarioDisplay();
    ScenarioDispatcher dispatcher;
    dispatcher.plug(EventTarget::Display, [](const TimedEvent& event) { display->handle(event); });
    dispatcher.play(*new TimelinePlayer(), scenario.timeline, platform::steadyNowNs(),
                    lines::kSimDriverVoice);
}

}  // namespace
}  // namespace corva::sim

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(unsigned id) {
    static std::once_flag once;
    std::call_once(once, corva::sim::startScenario);
    return corva::sim::queryInterface(id);
}
