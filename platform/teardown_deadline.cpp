// The teardown's deadline, the same on every platform (only Windows starts one).
#include "platform/platform.h"

#include <atomic>

namespace corva::platform {

namespace {
std::atomic<int64_t> gDeadlineNs{0};  // 0: none
}  // namespace

void startTeardownDeadline(int64_t stopNs) {
    const int64_t deadline = stopNs + int64_t(kTeardownHoldMs - kTeardownReserveMs) * 1000000;
    // The first stop that ends the process sets it; a later one (log-off after a close) does
    // not move it further away.
    int64_t none = 0;
    gDeadlineNs.compare_exchange_strong(none, deadline);
}

void clearTeardownDeadline() {
    gDeadlineNs.store(0);
}

uint32_t teardownWaitMs(uint32_t capMs) {
    const int64_t deadline = gDeadlineNs.load();
    if (deadline == 0) return capMs;
    const int64_t leftNs = deadline - steadyNowNs();
    if (leftNs <= 0) return 0;
    const int64_t leftMs = leftNs / 1000000;
    return leftMs < int64_t(capMs) ? uint32_t(leftMs) : capMs;
}

}  // namespace corva::platform
