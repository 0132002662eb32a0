#include "tests/support/virtual_clock.h"

#include <algorithm>

namespace corva::test {

int64_t VirtualClock::nowNs() {
    return platform::steadyNowNs() + skippedNs_.load();
}

void VirtualClock::sleepMs(uint32_t ms) {
    skippedNs_ += int64_t(ms) * 1000000;
}

platform::WaitResult VirtualClock::waitFor(platform::OsHandle handle, uint32_t timeoutMs) {
    if (timeoutMs == platform::kInfinite) return platform::waitFor(handle, timeoutMs);
    const int64_t start = platform::steadyNowNs();
    const platform::WaitResult result = platform::waitFor(handle, std::min(timeoutMs, realWaitMs_));
    if (result == platform::WaitResult::TimedOut)
        skippedNs_ += std::max<int64_t>(0, int64_t(timeoutMs) * 1000000 - (platform::steadyNowNs() - start));
    return result;
}

}  // namespace corva::test
