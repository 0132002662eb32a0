#include "sim/programs/sim_session.h"

#include "platform/hid_transport.h"
#include "sim/driver/sim_display.h"
#include "sim/platform/test_hooks.h"

namespace corva::sim {

namespace {

McuScenario inProcessMcu(const Scenario& scenario) {
    McuScenario mcu;
    if (scenario.noMcu) mcu.interfaces.clear();  // the other HID devices stay
    mcu.firmware = scenario.firmware;
    if (!scenario.mcuVersion.empty()) mcu.firmwareVersion = scenario.mcuVersion;
    return mcu;
}

}  // namespace

SimSession::SimSession(const Scenario& scenario)
    : scenario_(scenario), joined_(scenario, inProcessMcu(scenario)) {
    dispatcher_.plug(EventTarget::Display, [this](const TimedEvent& event) { display_.handle(event); });
    for (EventTarget target : {EventTarget::Microcontroller, EventTarget::Wearer})
        dispatcher_.plug(target, [this](const TimedEvent& event) { joined_.handle(event); });
}

SimSession::~SimSession() {
    stop();
}

void SimSession::start(int64_t startNs, std::function<int64_t()> wakeStamp, Mcu mcu) {
    stop();
    applyDisplayStart(scenario_);
    headset().setWakeStampSource(std::move(wakeStamp));
    headset().setBlankListener([this](bool blanked) { display_.setWearBlanked(blanked); });
    display_.setWearBlanked(headset().blankedByWear());  // e.g. starts away, bypass not yet on
    connectPanelPower(panelLink_, &joined_.headset);
    if (mcu == Mcu::InProcess) installHidTransport(&joined_.mcu);
    started_ = true;
    dispatcher_.play(player_, scenario_.timeline, startNs, lines::kSimProgramVoice);
}

void SimSession::stop() {
    if (!started_) return;
    player_.stop();
    setPanelPowerListener(nullptr);
    installHidTransport(nullptr);
    started_ = false;
}

std::string SimSession::groundTruthText() const {
    return formatGroundTruth(groundTruth());
}

bool SimSession::writeGroundTruth(const std::string& path) const {
    return writeGroundTruthFile(groundTruth(), path);
}

GroundTruth SimSession::groundTruth() const {
    GroundTruth truth = groundTruthOf(joined_.headset, &joined_.mcu);
    const Timeline display = timeline();
    truth.presents = display.presents;
    truth.vblanks = display.vblanks;
    truth.panels = panelTransitions();
    return truth;
}

}  // namespace corva::sim
