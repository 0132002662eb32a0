// The teardown's deadline, the same on every platform (only Windows starts one).
#include "platform/platform.h"

#include <atomic>

namespace corva::platform {

namespace {
std::atomic<int64_t> gDeadlineNs{0};  // 0: none
}  // namespace

void startTeardownDeadline(int64_t stopNs, uint32_t holdMs) {
    int64_t deadline = stopNs + (int64_t(holdMs) - int64_t(kTeardownReserveMs)) * 1000000;
    if (deadline == 0) deadline = 1;  // 0 stands for none
    // The earliest stop's limit holds: a later stop (a log-off after a close) never moves the
    // deadline further away, though its shorter hold may bring it closer.
    int64_t current = gDeadlineNs.load();
    while ((current == 0 || deadline < current) && !gDeadlineNs.compare_exchange_weak(current, deadline)) {
    }
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

int64_t teardownBoundNs(int64_t deadlineNs) {
    const int64_t deadline = gDeadlineNs.load();
    return deadline != 0 && deadline < deadlineNs ? deadline : deadlineNs;
}

uint32_t sessionEndHoldMs(uint32_t hungAppTimeoutMs) {
    if (hungAppTimeoutMs <= kHungAppMarginMs) return 0;
    const uint32_t holdMs = hungAppTimeoutMs - kHungAppMarginMs;
    return holdMs < kTeardownHoldMs ? holdMs : kTeardownHoldMs;
}

}  // namespace corva::platform
