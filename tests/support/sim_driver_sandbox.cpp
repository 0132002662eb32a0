#include "tests/support/sim_driver_sandbox.h"

#include "nvapi/loader.h"
#include "sim/sim_driver.h"
#include "sim/sim_driver_config.h"

#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <unistd.h>

namespace corva::test {

namespace {

nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, sim::queryInterface};
}

std::filesystem::path uniqueDirectory() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::filesystem::temp_directory_path() / ("tessaray-sim-test-" + std::to_string(getpid()) + "-" +
                                                     std::to_string(stamp) + "-" + std::to_string(counter++));
}

}  // namespace

SimDriverSandbox::SimDriverSandbox() : directory_(uniqueDirectory()), storeFile_(directory_ / "drs.txt") {
    std::filesystem::create_directories(directory_);
    sim::resetDriverState();
    sim::setDrsStoreFile(storeFile_);
    nvapi_loader::installDriverLibrary(openSimulatedDriver);
    nvapi_loader::unloadForTesting();
}

SimDriverSandbox::~SimDriverSandbox() {
    nvapi_loader::unloadForTesting();
    sim::resetDriverState();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

}  // namespace corva::test
