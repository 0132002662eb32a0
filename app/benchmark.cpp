#include "app/benchmark.h"

#include "app/benchmark_driver.h"
#include "app/shared_state.h"
#include "platform/platform.h"

namespace corva {

namespace {

class SteadyClock final : public BenchClock {
  public:
    int64_t nowNs() override { return platform::steadyNowNs(); }
    void sleepMs(uint32_t ms) override { platform::sleepMs(ms); }
};

class ProxLink final : public BenchLink {
  public:
    explicit ProxLink(McuProx& link) : link_(link) {}
    uint16_t dstat() const override { return link_.dstat.load(std::memory_order_relaxed); }
    int64_t lastReportNs() const override { return link_.lastReportNs(); }
    uint32_t linkLosses() const override { return link_.linkLosses(); }
    bool deviceGone() const override { return link_.deviceGone(); }
    bool setDoze(bool doze) override { return link_.setDoze(doze); }

  private:
    McuProx& link_;
};

}  // namespace

void benchmarkLoop(const bool& proxUp, McuProx& link, int32_t cycles, double activeSeconds, bool doze,
                   ParkControl& presenter, double holdSeconds) {
    SteadyClock clock;
    ProxLink proxLink(link);
    const BenchSeams seams{clock, proxLink, proxUp, presenter,
                           BenchShared{StopFlag, LastWakeVerdict, WakeRequestStamp, WakePhaseStamps}};
    runBenchmark(seams, BenchPlan{cycles, activeSeconds, holdSeconds, doze});
}

}  // namespace corva
