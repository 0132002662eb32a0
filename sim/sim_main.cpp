// tessaray-sim: the real program on the simulated headset.
#include "app/tessaray_main.h"
#include "nvapi/loader.h"
#include "platform/hid_transport.h"
#include "sim/sim_driver.h"
#include "sim/sim_mcu.h"

namespace {

corva::nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, corva::sim::queryInterface};
}

}  // namespace

int main(int argc, char** argv) {
    corva::nvapi_loader::installDriverLibrary(openSimulatedDriver);
    static corva::sim::SimMcu mcu;  // a healthy headset, worn; outlives the link
    corva::installHidTransport(&mcu);
    return corva::tessarayMain(argc, argv);
}
