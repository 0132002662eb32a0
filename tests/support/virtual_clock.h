// Virtual time for the presenter: a sleep, or a wait that times out, moves the clock on by
// its whole length at once, so that second-long waits take moments. Real time still passes
// underneath (the simulated display and the GPU run on it): the clock reads the steady
// clock plus all the time skipped so far, and a wait on an object that gets signalled
// returns as it would.
#pragma once

#include "present/presenter_clock.h"

#include <atomic>

namespace corva::test {

class VirtualClock final : public PresenterClock {
  public:
    // A timed wait waits for real at most `realWaitMs` before it counts as timed out.
    explicit VirtualClock(uint32_t realWaitMs = 50) : realWaitMs_(realWaitMs) {}

    int64_t nowNs() override;
    void sleepMs(uint32_t ms) override;
    platform::WaitResult waitFor(platform::OsHandle handle, uint32_t timeoutMs) override;
    platform::OsHandle createHighResolutionTimer() override { return platform::createHighResolutionTimer(); }

  private:
    const uint32_t realWaitMs_;
    std::atomic<int64_t> skippedNs_{0};
};

}  // namespace corva::test
