// The simulated driver as nvapi64.dll: the one export the loader looks up, undecorated.
#include "sim/programs/nvapi64_scenario.h"
#include "sim/driver/sim_driver.h"

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(unsigned id) {
    corva::sim::startScenarioFromEnvironment();
    return corva::sim::queryInterface(id);
}
