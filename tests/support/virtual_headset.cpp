#include "tests/support/virtual_headset.h"

#include <algorithm>

namespace corva::test {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kReportIntervalNs = 50 * kMs;
constexpr int64_t kParkNs = 60 * kMs;     // park request to panels off
constexpr int64_t kDozeOffNs = 30 * kMs;  // doze command to displays off
constexpr int64_t kPauseNs = 500 * kMs;   // the monitor's telemetry pause
constexpr int64_t kRunawayNs = 600000 * kMs;

enum Change { DisplaysOff, DisplaysOn, Parked, Unparked };

}  // namespace

VirtualHeadset::VirtualHeadset(const HeadsetSetup& setup) : setup_(setup) {
    std::stable_sort(
        setup_.script.begin(), setup_.script.end(),
        [](const ScriptedEvent& a, const ScriptedEvent& b) { return a.atSeconds < b.atSeconds; });
    if (!setup_.mcu) {
        gone_ = false;
        talking_ = false;
        reportedDstat_ = 0;
    } else {
        lastReportNs_ = nowNs_ - 10 * kMs;
    }
}

BenchSeams VirtualHeadset::seams() {
    return BenchSeams{*this, *this, setup_.mcu, *this, BenchShared{stop, verdict, wakeRequestNs, wakeStamps}};
}

void VirtualHeadset::sleepMs(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i) {
        nowNs_ += kMs;
        tick();
    }
    if (nowNs_ - kStartNs > kRunawayNs && !stop.load()) {
        ranAway_ = true;
        stop.store(true);
    }
}

void VirtualHeadset::at(int64_t delayNs, int what) {
    pending_.push_back({nowNs_ + delayNs, what});
}

void VirtualHeadset::tick() {
    while (nextEvent_ < setup_.script.size() &&
           kStartNs + int64_t(setup_.script[nextEvent_].atSeconds * 1e9) <= nowNs_)
        apply(setup_.script[nextEvent_++].event);
    for (auto p = pending_.begin(); p != pending_.end();) {
        if (p->atNs > nowNs_) {
            ++p;
            continue;
        }
        if (p->what == DisplaysOff) displaysOn_ = false;
        if (p->what == DisplaysOn) displaysOn_ = true;
        if (p->what == Parked) parked_ = true;
        if (p->what == Unparked) parked_ = false;
        p = pending_.erase(p);
    }
    if (setup_.mcu && !gone_ && talking_ && nowNs_ - lastReportNs_ >= kReportIntervalNs) {
        lastReportNs_ = nowNs_;
        reportedDstat_ = displaysOn_ ? 0x000b : 0x0002;
    }
    if (nowNs_ % (2 * kMs) == 0) monitor();
}

// The display-status monitor's verdict on a wake, as it gives it every 2 ms: measured when a
// report shows the displays on, discarded when the link is lost or paused first.
void VirtualHeadset::monitor() {
    const bool on = (reportedDstat_ & 1) != 0;
    if (on && !seenOn_ && wakeRequestNs.exchange(0) != 0) {
        measured_ += 1;
        verdict.store(WakeVerdict::Measured);
    }
    seenOn_ = on;
    const bool lost = gone_ || losses_ != monitorLosses_;
    monitorLosses_ = losses_;
    const bool paused = setup_.mcu && nowNs_ - lastReportNs_ > kPauseNs;
    if ((lost || paused) && wakeRequestNs.exchange(0) != 0) {
        discarded_ += 1;
        verdict.store(lost ? WakeVerdict::DiscardedLinkLost : WakeVerdict::DiscardedPaused);
    } else if (lost && verdict.load() == WakeVerdict::DiscardedPaused) {
        verdict.store(WakeVerdict::DiscardedLinkLost);
    }
}

void VirtualHeadset::apply(HeadsetEvent event) {
    switch (event) {
        case HeadsetEvent::Unplug:
            gone_ = true;
            losses_ += 1;
            break;
        case HeadsetEvent::Replug:
            // A replugged microcontroller powers up with doze off: the displays light
            // unless the panels are parked.
            gone_ = false;
            talking_ = true;
            if (!parked_) displaysOn_ = true;
            break;
        case HeadsetEvent::Silence:
            talking_ = false;
            break;
        case HeadsetEvent::Talk:
            talking_ = true;
            break;
        case HeadsetEvent::Stop:
            stop.store(true);
            break;
    }
}

bool VirtualHeadset::setDoze(bool doze) {
    record(doze ? "doze" : "undoze");
    if (!setup_.mcu || gone_) return false;
    if (doze && dozeCommands_++ < setup_.refusedDozes) return false;
    if (doze && setup_.dozes) at(kDozeOffNs, DisplaysOff);
    if (!doze && !displaysOn_ && !parked_) at(int64_t(setup_.wakeSeconds * 1e9), DisplaysOn);
    return true;
}

void VirtualHeadset::setDisplayWanted(bool wanted) {
    record(wanted ? "unpark" : "park");
    if (!wanted) {
        at(kParkNs, DisplaysOff);
        at(kParkNs, Parked);
    } else if (parked_) {
        at(0, Unparked);
        at(int64_t(setup_.wakeSeconds * 1e9), DisplaysOn);
    }
}

int64_t VirtualHeadset::callAt(const std::string& what, size_t n) const {
    for (const HeadsetCall& c : calls_)
        if (c.what == what && n-- == 0) return c.atNs;
    return -1;
}

size_t VirtualHeadset::callCount(const std::string& what) const {
    return size_t(
        std::count_if(calls_.begin(), calls_.end(), [&](const HeadsetCall& c) { return c.what == what; }));
}

}  // namespace corva::test
