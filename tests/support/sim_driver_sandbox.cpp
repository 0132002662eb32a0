#include "tests/support/sim_driver_sandbox.h"

#include "sim/driver/sim_driver_config.h"
#include "tests/support/simulated_driver.h"

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <system_error>

namespace corva::test {

namespace {

std::filesystem::path uniqueDirectory() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::filesystem::temp_directory_path() /
           ("tessaray-sim-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(stamp) +
            "-" + std::to_string(counter++));
}

}  // namespace

SimDriverSandbox::SimDriverSandbox() : directory_(uniqueDirectory()), storeFile_(directory_ / "drs.txt") {
    std::filesystem::create_directories(directory_);
    sim::resetDriverState();
    sim::setDrsStoreFile(storeFile_);
    installSimulatedDriver();
}

SimDriverSandbox::~SimDriverSandbox() {
    removeSimulatedDriver();
    sim::resetDriverState();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

}  // namespace corva::test
