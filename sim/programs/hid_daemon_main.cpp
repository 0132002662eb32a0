// tessaray-hidd: the simulated headset's proximity microcontroller as a real HID device
// (35BD:0101 through /dev/uhid), for the program's own HID transports. Set up from the
// environment, as tessaray-sim is:
//   TESSARAY_SIM_SCENARIO    the scenario (text or "@FILE"); its microcontroller events are
//                            timed from the first rate command the device receives
//   TESSARAY_SIM_PANEL_FILE  the file the simulated driver appends the panels' power to
//   TESSARAY_SIM_TRUTH_FILE  receives the headset's ground truth when the daemon ends
// Runs until SIGTERM or SIGINT. Exit: 0, 1 the device could not be served, 2 bad scenario.
#include "sim/mcu/headset_mcu.h"
#include "sim/programs/hid_daemon.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) {
    gStop.store(true);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

int main() {
    corva::sim::Scenario scenario;
    if (!corva::sim::loadScenario("tessaray-hidd", scenario)) return 2;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    corva::sim::HidDaemon daemon({scenario, environment(corva::sim::kPanelFileVariable)});
    std::string error;
    if (!daemon.start(error)) {
        std::fprintf(stderr, "tessaray-hidd: %s\n", error.c_str());
        return 1;
    }
    std::printf("tessaray-hidd: serving 35BD:0101%s\n", scenario.noMcu ? " (no-mcu: not plugged)" : "");
    std::fflush(stdout);
    const bool ok = daemon.run(gStop, error);
    if (!ok) std::fprintf(stderr, "tessaray-hidd: %s\n", error.c_str());

    const std::string truthFile = environment("TESSARAY_SIM_TRUTH_FILE");
    if (!truthFile.empty() && !corva::sim::writeGroundTruth(daemon.headset(), &daemon.mcu(), truthFile))
        std::fprintf(stderr, "tessaray-hidd: cannot write the ground truth to '%s'\n", truthFile.c_str());
    std::printf("tessaray-hidd: %llu input reports sent\n",
                static_cast<unsigned long long>(daemon.inputReportsSent()));
    return ok ? 0 : 1;
}
