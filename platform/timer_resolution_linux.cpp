// Linux sleeps to the requested time already: nothing to raise.
#include "platform/platform.h"

namespace corva::platform {

FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

PowerThrottlingOptOuts powerThrottlingOptOuts() {
    return {};
}

}  // namespace corva::platform
