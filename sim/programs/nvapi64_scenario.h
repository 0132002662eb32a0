// The simulated driver loaded as nvapi64.dll (the real program under Wine) takes its
// scenario from the environment, as tessaray-sim does: TESSARAY_SIM_SCENARIO.
#pragma once

namespace corva::sim {

// Once per process, when the program first reaches the driver: sets the display up for the
// scenario and plays its timeline, counted from this moment. A scenario that cannot be read
// is reported on standard error and makes the driver's initialisation fail.
void startScenarioFromEnvironment();

}  // namespace corva::sim
