// How the simulated headset breaks the timing a run rests on, from outside the product's
// code paths: a coarse timer (every sleep a whole number of steps) and a machine that
// sleeps (a sleep ending inside the window lasts to its end). Both 0 in the product.
#pragma once

#include <atomic>
#include <cstdint>

namespace corva::platform::detail {

extern std::atomic<int64_t> sleepStepNs;
extern std::atomic<int64_t> suspendedFromNs;  // steady clock
extern std::atomic<int64_t> suspendedToNs;

// The nanoseconds a sleep of `ms` lasts under the hooks, starting at `nowNs`.
inline int64_t hookedSleepNs(uint32_t ms, int64_t nowNs) {
    int64_t ns = int64_t(ms) * 1000000;
    const int64_t step = sleepStepNs.load(std::memory_order_relaxed);
    if (step > 0 && ns > 0) ns = (ns + step - 1) / step * step;
    const int64_t to = suspendedToNs.load(std::memory_order_relaxed);
    if (to != 0) {
        const int64_t end = nowNs + ns;
        if (end >= suspendedFromNs.load(std::memory_order_relaxed) && end < to) ns += to - end;
    }
    return ns;
}

}  // namespace corva::platform::detail
