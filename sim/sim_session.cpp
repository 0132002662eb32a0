#include "sim/sim_session.h"

#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "prox/prox_report.h"
#include "sim/sim_display.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace corva::sim {

namespace {

int64_t msToNs(double ms) {
    return static_cast<int64_t>(ms * 1e6);
}

}  // namespace

HeadsetTiming headsetTiming(const Scenario& scenario) {
    HeadsetTiming timing;
    timing.onMinNs = msToNs(scenario.wakeMinMs);
    timing.onMaxNs = msToNs(scenario.wakeMaxMs);
    timing.offMinNs = msToNs(scenario.sleepMinMs);
    timing.offMaxNs = msToNs(scenario.sleepMaxMs);
    return timing;
}

McuScenario mcuScenario(const Scenario& scenario, Headset& headset) {
    McuScenario mcu;
    if (scenario.noMcu) mcu.interfaces.clear();  // the other HID devices stay
    mcu.proximity = [&headset](int64_t ms) { return headset.proximityReading(ms); };
    return mcu;
}

SimSession::SimSession(const Scenario& scenario)
    : scenario_(scenario),
      headset_(headsetTiming(scenario), scenario.startsWorn),
      mcu_(std::make_unique<SimMcu>(mcuScenario(scenario, headset_))) {
    dispatcher_.plug(EventTarget::Display, [this](const TimedEvent& event) { display_.handle(event); });
    dispatcher_.plug(EventTarget::Microcontroller,
                     [this](const TimedEvent& event) { handleMicrocontroller(event); });
    dispatcher_.plug(EventTarget::Wearer, [this](const TimedEvent& event) { handleWearer(event); });
}

SimSession::~SimSession() {
    stop();
}

void SimSession::start(int64_t startNs, std::function<int64_t()> wakeStamp) {
    stop();
    applyDisplayStart(scenario_);
    headset_.setWakeStampSource(std::move(wakeStamp));
    headset_.setBlankListener([this](bool blanked) { display_.setWearBlanked(blanked); });
    display_.setWearBlanked(headset_.blankedByWear());  // e.g. starts away, bypass not yet on
    setPanelPowerListener([this](bool on, int64_t atNs) {
        // Outside the display's lock: its state may be read here.
        const bool compressed = on && displayState().mode.dscEnable != 0;
        headset_.panelPower(on, compressed, atNs);
    });
    mcu_->setDstatProvider([this](const McuFirmwareState& fw) { return headset_.telemetryDstat(fw.atNs); });
    mcu_->setCommandListener([this](const McuCommand& command) {
        if (!command.accepted) return;
        switch (command.command) {
            case prox::kCmdDoze:
                headset_.doze(true, command.atNs);
                break;
            case prox::kCmdWake:
                headset_.doze(false, command.atNs);
                break;
            case prox::kCmdBypassOn:
                headset_.bypass(true, command.atNs);
                break;
            case prox::kCmdBypassOff:
                headset_.bypass(false, command.atNs);
                break;
            default:
                break;
        }
    });
    installHidTransport(mcu_.get());
    started_ = true;
    dispatcher_.play(player_, scenario_.timeline, startNs, "tessaray-sim");
}

void SimSession::stop() {
    if (!started_) return;
    player_.stop();
    setPanelPowerListener(nullptr);
    installHidTransport(nullptr);
    started_ = false;
}

void SimSession::handleWearer(const TimedEvent& event) {
    headset_.setWorn(event.event == ScenarioEvent::Don, platform::steadyNowNs());
}

void SimSession::handleMicrocontroller(const TimedEvent& event) {
    switch (event.event) {
        case ScenarioEvent::Unplug:
            mcu_->unplug();
            return;
        case ScenarioEvent::Replug:
            mcu_->replug();
            headset_.mcuPoweredUp(platform::steadyNowNs());
            return;
        case ScenarioEvent::Silence:
        case ScenarioEvent::Talk:
            mcu_->setHung(event.event == ScenarioEvent::Silence);
            return;
        default:
            return;
    }
}

std::string SimSession::groundTruthText() const {
    std::string text = "# tessaray-sim ground truth; times in steady-clock nanoseconds\n";
    char line[256];
    const std::vector<DisplaysTransition> transitions = headset_.transitions();
    for (const DisplaysTransition& t : transitions) {
        std::snprintf(line, sizeof line,
                      "transition on=%d cause=%s request_ns=%" PRId64 " visible_ns=%" PRId64
                      " first_report_ns=%" PRId64 " wake_stamp_ns=%" PRId64 "\n",
                      t.on ? 1 : 0, headsetInputName(t.cause), t.requestNs, t.visibleNs, t.firstReportNs,
                      t.wakeStampNs);
        text += line;
    }
    // Left on, the bypass keeps the displays lit when the headset is taken off. A gone MCU
    // keeps its state until it is powered up again.
    std::snprintf(line, sizeof line, "mcu_bypass_at_exit %d\n", mcu_->bypassOn() ? 1 : 0);
    text += line;
    for (const DisplaysTransition& t : transitions) {
        if (!t.on || t.wakeStampNs == 0 || t.firstReportNs == 0) continue;
        std::snprintf(line, sizeof line, "wake_latency_ms %.3f\n",
                      double(t.firstReportNs - t.wakeStampNs) / 1e6);
        text += line;
    }
    return text;
}

bool SimSession::writeGroundTruth(const std::string& path) const {
    std::ofstream file(path, std::ios::trunc);
    file << groundTruthText();
    return bool(file.flush());
}

}  // namespace corva::sim
