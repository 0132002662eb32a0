#include "sim/programs/sim_session.h"

#include "platform/hid_transport.h"
#include "platform/sleep_hooks.h"
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
    panelsWereOff_ = false;
    parkWakes_ = 0;
    connectPanelPower(panelLink_, &joined_.headset,
                      [this](bool on, int64_t atNs) { panelPowerChanged(on, atNs); });
    if (mcu == Mcu::InProcess) installHidTransport(&joined_.mcu);
    breakTiming(startNs);
    started_ = true;
    dispatcher_.play(player_, scenario_.timeline, startNs, lines::kSimProgramVoice);
}

// The scenario's broken conditions, timed from the program's start.
void SimSession::breakTiming(int64_t startNs) {
    const Scenario& s = scenario_;
    platform::detail::sleepStepNs.store(s.coarseTimer ? kCoarseTimerStepNs : 0);
    const int64_t sleepFrom = startNs + int64_t(s.machineSleepAtSeconds * 1e9);
    const int64_t sleepTo = sleepFrom + int64_t(s.machineSleepSeconds) * 1000000000;
    platform::detail::suspendedFromNs.store(s.machineSleepSeconds > 0 ? sleepFrom : 0);
    platform::detail::suspendedToNs.store(s.machineSleepSeconds > 0 ? sleepTo : 0);
    // A sleeping machine reads no telemetry either.
    const int64_t stallFrom = startNs + int64_t(s.readerStallAtSeconds * 1e9);
    if (s.readerStallMs > 0 && s.readerStallWake == 0)
        joined_.mcu.holdReads(stallFrom, stallFrom + int64_t(s.readerStallMs) * 1000000);
    else if (s.machineSleepSeconds > 0)
        joined_.mcu.holdReads(sleepFrom, sleepTo);
}

// Counts the park wakes (the panels powered on after being off) for a wake-timed stall.
void SimSession::panelPowerChanged(bool on, int64_t atNs) {
    if (!on) {
        panelsWereOff_ = true;
        return;
    }
    if (!panelsWereOff_) return;
    panelsWereOff_ = false;
    if (++parkWakes_ == scenario_.readerStallWake && scenario_.readerStallMs > 0)
        joined_.mcu.holdReads(atNs, atNs + int64_t(scenario_.readerStallMs) * 1000000);
}

void SimSession::stop() {
    if (!started_) return;
    platform::detail::sleepStepNs.store(0);
    platform::detail::suspendedToNs.store(0);
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
