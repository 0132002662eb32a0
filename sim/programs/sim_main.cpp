// tessaray-sim: the real program on the simulated headset. The command line is the
// program's own; the headset's scenario comes from TESSARAY_SIM_SCENARIO (text, or "@FILE";
// see sim/headset/scenario.h), and TESSARAY_SIM_TRUTH_FILE, if set, names a file that receives the
// headset's ground truth at exit. A scenario that cannot be read ends the run with code 2.
// TESSARAY_SIM_HID=hidraw: the proximity link talks to the system's hidraw devices (the HID
// daemon tessaray-hidd) instead of the microcontroller model in this process.
#include "app/shared_state.h"
#include "app/tessaray_main.h"
#include "lines/run_figures.h"
#include "lines/simulator_lines.h"
#include "nvapi/loader.h"
#include "platform/platform.h"
#include "platform/std_streams.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_driver.h"
#include "sim/programs/sim_session.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kExitBadScenario = corva::run::kExitBadScenario;

corva::nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, corva::sim::queryInterface};
}

}  // namespace

int main(int argc, char** argv) {
    // First, as the program itself does: the scenario and the driver store open files too.
    corva::platform::keepStandardStreams();
    const int64_t startNs = corva::platform::steadyNowNs();
    corva::sim::Scenario scenario;
    if (!corva::sim::loadScenario(corva::lines::kSimProgramVoice, scenario)) return kExitBadScenario;
    const std::string hid = std::getenv("TESSARAY_SIM_HID") ? std::getenv("TESSARAY_SIM_HID") : "";
    if (hid != "" && hid != "sim" && hid != "hidraw") {
        corva::lines::printSimulatorLine(corva::lines::kSimBadHid, hid.c_str());
        return kExitBadScenario;
    }
    corva::nvapi_loader::installDriverLibrary(openSimulatedDriver);
    // Outlives the program's proximity link and presenter, which live inside tessarayMain.
    corva::sim::SimSession session(scenario);
    session.start(
        startNs, [] { return corva::WakeRequestStamp.load(); },
        hid == "hidraw" ? corva::sim::SimSession::Mcu::SystemHid : corva::sim::SimSession::Mcu::InProcess);

    const int code = corva::tessarayMain(argc, argv);

    session.stop();
    if (const char* truthFile = std::getenv("TESSARAY_SIM_TRUTH_FILE");
        truthFile != nullptr && *truthFile != '\0')
        if (!session.writeGroundTruth(truthFile))
            corva::lines::printSimulatorLine(corva::lines::kSimTruthNotWritten, truthFile);
    return code;
}
