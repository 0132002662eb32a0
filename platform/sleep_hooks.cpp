#include "platform/sleep_hooks.h"

namespace corva::platform::detail {

std::atomic<int64_t> sleepStepNs{0};
std::atomic<int64_t> suspendedFromNs{0};
std::atomic<int64_t> suspendedToNs{0};

}  // namespace corva::platform::detail
