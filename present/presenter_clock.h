// Time and waiting as the present loop and the display acquisition see them: the
// platform's by default. A test may run them on virtual time, so that second-long waits
// (acquisition retries, a dead waitable, a stuck GPU) take no real time.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace corva {

class PresenterClock {
  public:
    virtual ~PresenterClock() = default;
    virtual int64_t nowNs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    virtual platform::WaitResult waitFor(platform::OsHandle handle, uint32_t timeoutMs) = 0;
    // nullptr when there is none: the just-in-time wait then sleeps and spins.
    virtual platform::OsHandle createHighResolutionTimer() = 0;
};

// The steady clock, sleeps, waits and timers of the platform.
PresenterClock& platformClock();

}  // namespace corva
