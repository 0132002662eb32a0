#include "nvapi/loader.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_driver.h"
#include "tests/support/simulated_driver.h"

namespace corva::test {

namespace {

nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, sim::queryInterface};
}

}  // namespace

void installSimulatedDriver() {
    nvapi_loader::installDriverLibrary(openSimulatedDriver);
    nvapi_loader::unloadForTesting();
}

void installNoDriver() {
    nvapi_loader::installDriverLibrary([] { return nvapi_loader::DriverLibrary{}; });
    nvapi_loader::unloadForTesting();
}

void removeSimulatedDriver() {
    nvapi_loader::unloadForTesting();
}

}  // namespace corva::test
