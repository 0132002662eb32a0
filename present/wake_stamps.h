// Steady-clock times of the steps of one wake, taken where each step happens and read by
// whoever prints the wake's phases. Plain atomics: written once per wake, never per frame.
#pragma once

#include <atomic>
#include <cstdint>

namespace corva {

struct WakeStamps {
    std::atomic<int64_t> reactNs{0};   // the wake is acted on (parked wait left / wake command sent)
    std::atomic<int64_t> modeNs{0};    // the mode-set call returned (park wakes only)
    std::atomic<int64_t> powerNs{0};   // the panels' power-on call returned (doze: the wake command)
    std::atomic<int64_t> vblankNs{0};  // the first vertical blank after power-on (park wakes only)
    // The parked poll's gap that ended on the wake (park wakes only; 0: seen without a wait).
    std::atomic<int64_t> parkedGapNs{0};

    // Before each wake request: what an earlier wake left behind must not count for this one.
    void clear() {
        reactNs.store(0);
        modeNs.store(0);
        powerNs.store(0);
        vblankNs.store(0);
        parkedGapNs.store(0);
    }
};

}  // namespace corva
