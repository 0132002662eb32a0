// Shared between the slices of the simulated driver: each forgets its own state for
// resetDriverState().
#pragma once

namespace corva::sim::detail {

void resetCoreState();
void resetDrsState();

}  // namespace corva::sim::detail
