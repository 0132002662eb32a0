// tessaray-sim: the real program on the simulated headset.
#include "app/tessaray_main.h"
#include "nvapi/loader.h"
#include "sim/sim_driver.h"

namespace {

corva::nvapi_loader::DriverLibrary openSimulatedDriver() { return {true, corva::sim::queryInterface}; }

}  // namespace

int main(int argc, char** argv) {
    corva::nvapi_loader::installDriverLibrary(openSimulatedDriver);
    return corva::tessarayMain(argc, argv);
}
