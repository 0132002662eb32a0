// The benchmark driver and the display-status monitor together, over the simulated
// microcontroller: a link lost right after the displays come on gives each cycle one
// outcome, a latency or an abandon line, never both, as tessaray-report reads the output
// (Linux only: the Windows test program does not link the report's reader).
#include "app/benchmark.h"
#include "app/shared_state.h"
#include "app/status_threads.h"
#include "platform/platform.h"
#include "report/log_parser.h"
#include "sim/mcu/sim_mcu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace corva {
namespace {

// Panels that park at once and light the displays 30 ms after a wake, as the telemetry
// reports them.
class InstantPanels : public ParkControl {
  public:
    explicit InstantPanels(sim::SimMcu& mcu) : mcu_(mcu) {}
    void setDisplayWanted(bool wanted) override {
        parked_.store(!wanted);
        if (!wanted) {
            mcu_.setDstat(0x0002);
            return;
        }
        std::thread([this] {
            platform::sleepMs(30);
            mcu_.setDstat(0x0003);
        }).detach();
    }
    bool isParked() override { return parked_.load(); }
    void requestStop() override {}

  private:
    sim::SimMcu& mcu_;
    std::atomic<bool> parked_{false};
};

TEST(BenchmarkOutcome, LinkLostJustAfterTheDisplaysComeOnGivesOneOutcomePerCycle) {
    StopFlag.store(false);
    WakeRequestStamp.store(0);
    sim::SimMcu mcu;
    McuProx link(mcu);
    ASSERT_TRUE(link.open(50));
    const bool proxUp = true;
    InstantPanels panels(mcu);

    // Unplugs the microcontroller within a fraction of a monitor poll of the link showing
    // the displays on after a park, and plugs it back in.
    std::atomic<bool> watching{true};
    std::thread saboteur([&] {
        bool off = false;
        while (watching.load()) {
            const bool on = (link.dstat.load() & 1) != 0;
            if (!on) off = true;
            if (on && off && !link.deviceGone()) {
                mcu.unplug();
                platform::sleepMs(100);
                mcu.replug();
                off = false;
            }
            std::this_thread::yield();
        }
    });

    ::testing::internal::CaptureStdout();
    std::thread monitor(dstatMonitorLoop, std::ref(link));
    benchmarkLoop(proxUp, link, 3, 0.5, false, panels, 0.5);
    monitor.join();
    const std::string out = ::testing::internal::GetCapturedStdout();
    watching.store(false);
    saboteur.join();
    link.close();
    StopFlag.store(false);

    const report::ParsedLog log = report::parseLog(out);
    ASSERT_EQ(log.runs.size(), 1u) << out;
    const report::LoggedRun& run = log.runs[0];
    ASSERT_FALSE(run.cycles.empty()) << out;
    for (const report::Cycle& c : run.cycles) {
        size_t outcomes = 0;
        for (const report::Event& e : run.events)
            outcomes += e.cycle == c.number && (e.kind == report::EventKind::WakeLatency ||
                                                e.kind == report::EventKind::CycleAbandoned);
        EXPECT_EQ(outcomes, c.wakeRequestMs == report::kNoTime ? outcomes : 1u)
            << "cycle " << c.number << ":\n"
            << out;
        EXPECT_NE(c.outcome, report::CycleOutcome::LatencyMissing) << out;
    }
}

}  // namespace
}  // namespace corva
