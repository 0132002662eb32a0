// A headset on virtual time for the benchmark driver: its clock, proximity link and panels
// in one model, moved on by the driver's own sleeps. The telemetry reports the displays every
// 50 ms while the microcontroller is attached and talking; the panels park and wake, and the
// microcontroller dozes and wakes them, after fixed delays; a small stand-in for the
// display-status monitor gives each wake its verdict. Scripted events happen at given times.
#pragma once

#include "app/benchmark_driver.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace corva::test {

enum class HeadsetEvent { Unplug, Replug, Silence, Talk, Stop };

struct ScriptedEvent {
    double atSeconds;
    HeadsetEvent event;
};

struct HeadsetSetup {
    bool mcu = true;           // false: no proximity link at all
    bool dozes = true;         // false: the firmware takes the doze command and never dozes
    int refusedDozes = 0;      // the first N doze commands are refused
    double wakeSeconds = 0.1;  // wake request to displays on
    std::vector<ScriptedEvent> script;
};

// A command the headset received, at its virtual time.
struct HeadsetCall {
    int64_t atNs;
    std::string what;  // "park", "unpark", "doze", "undoze", "stop"
};

class VirtualHeadset final : public BenchClock, public BenchLink, public ParkControl {
  public:
    explicit VirtualHeadset(const HeadsetSetup& setup);

    // Seams for the driver over this headset, with run state of its own (no process globals).
    BenchSeams seams();

    // BenchClock
    int64_t nowNs() override { return nowNs_; }
    void sleepMs(uint32_t ms) override;
    // BenchLink
    uint16_t dstat() const override { return reportedDstat_; }
    int64_t lastReportNs() const override { return lastReportNs_; }
    uint32_t linkLosses() const override { return losses_; }
    bool deviceGone() const override { return gone_; }
    bool setDoze(bool doze) override;
    // ParkControl
    void setDisplayWanted(bool wanted) override;
    bool isParked() override { return parked_; }
    void requestStop() override { record("stop"); }

    const std::vector<HeadsetCall>& calls() const { return calls_; }
    // Virtual ns of the n-th call named `what` (-1 when there are fewer).
    int64_t callAt(const std::string& what, size_t n = 0) const;
    size_t callCount(const std::string& what) const;
    bool displaysOn() const { return displaysOn_; }
    int measured() const { return measured_; }
    int discarded() const { return discarded_; }
    // The driver was still running after ten virtual minutes: stopped from here.
    bool ranAway() const { return ranAway_; }

    static constexpr int64_t kStartNs = 1000000000;

  private:
    void tick();
    void apply(HeadsetEvent event);
    void monitor();
    void record(const char* what) { calls_.push_back({nowNs_, what}); }
    void at(int64_t delayNs, int what);

  public:
    std::atomic<bool> stop{false};
    std::atomic<WakeVerdict> verdict{WakeVerdict::None};
    std::atomic<int64_t> wakeRequestNs{0};
    WakeStamps wakeStamps;

  private:
    HeadsetSetup setup_;
    int64_t nowNs_ = kStartNs;
    size_t nextEvent_ = 0;
    bool gone_ = false, talking_ = true, parked_ = false, displaysOn_ = true;
    uint16_t reportedDstat_ = 0x000b;
    int64_t lastReportNs_ = 0;
    uint32_t losses_ = 0, monitorLosses_ = 0;
    bool seenOn_ = true;
    int dozeCommands_ = 0, measured_ = 0, discarded_ = 0;
    bool ranAway_ = false;
    struct Pending {
        int64_t atNs;
        int what;  // 0 displays off, 1 displays on, 2 parked, 3 unparked
    };
    std::vector<Pending> pending_;
    std::vector<HeadsetCall> calls_;
};

}  // namespace corva::test
