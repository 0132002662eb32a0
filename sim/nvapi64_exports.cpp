// The simulated driver as nvapi64.dll: the one export the loader looks up, undecorated.
#include "sim/nvapi64_scenario.h"
#include "sim/sim_driver.h"

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(unsigned id) {
    corva::sim::startScenarioFromEnvironment();
    return corva::sim::queryInterface(id);
}
