#include "sim/programs/sim_session.h"

#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "sim/driver/display_truth.h"
#include "sim/mcu/headset_mcu.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_display.h"

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

void SimSession::start(int64_t startNs, std::function<int64_t()> wakeStamp, Mcu mcu) {
    stop();
    applyDisplayStart(scenario_);
    headset_.setWakeStampSource(std::move(wakeStamp));
    headset_.setBlankListener([this](bool blanked) { display_.setWearBlanked(blanked); });
    display_.setWearBlanked(headset_.blankedByWear());  // e.g. starts away, bypass not yet on
    setPanelPowerListener([this](bool on, int64_t atNs) {
        // Outside the display's lock: its state may be read here.
        const bool compressed = on && displayState().mode.dscEnable != 0;
        headset_.panelPower(on, compressed, atNs);
        panelLink_.write({on, compressed});
    });
    mcu_->setDstatProvider([this](const McuFirmwareState& fw) { return headset_.telemetryDstat(fw.atNs); });
    mcu_->setCommandListener([this](const McuCommand& command) { applyMcuCommand(headset_, command); });
    if (mcu == Mcu::InProcess) installHidTransport(mcu_.get());
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

// The headset's transitions and latencies, then the display's presents and scan-outs.
std::string SimSession::groundTruthText() const {
    return sim::groundTruthText(headset_, mcu_.get()) + displayTruthText(timeline(), panelTransitions());
}

bool SimSession::writeGroundTruth(const std::string& path) const {
    std::ofstream file(path, std::ios::trunc);
    file << groundTruthText();
    return bool(file.flush());
}

}  // namespace corva::sim
