#include "present/presenter_clock.h"

namespace corva {

namespace {

class PlatformClock final : public PresenterClock {
  public:
    int64_t nowNs() override { return platform::steadyNowNs(); }
    void sleepMs(uint32_t ms) override { platform::sleepMs(ms); }
    platform::WaitResult waitFor(platform::OsHandle handle, uint32_t timeoutMs) override {
        return platform::waitFor(handle, timeoutMs);
    }
    platform::OsHandle createHighResolutionTimer() override { return platform::createHighResolutionTimer(); }
};

}  // namespace

PresenterClock& platformClock() {
    static PlatformClock clock;
    return clock;
}

}  // namespace corva
