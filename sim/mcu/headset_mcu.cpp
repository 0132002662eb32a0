#include "sim/mcu/headset_mcu.h"

#include "platform/platform.h"
#include "prox/prox_report.h"

namespace corva::sim {

namespace {

HeadsetTiming timingOf(const Scenario& scenario) {
    auto ns = [](double ms) { return static_cast<int64_t>(ms * 1e6); };
    HeadsetTiming timing;
    timing.onMinNs = ns(scenario.wakeMinMs);
    timing.onMaxNs = ns(scenario.wakeMaxMs);
    timing.offMinNs = ns(scenario.sleepMinMs);
    timing.offMaxNs = ns(scenario.sleepMaxMs);
    return timing;
}

McuScenario withProximityOf(McuScenario mcu, const Headset& headset) {
    mcu.proximity = [&headset](int64_t ms) { return headset.proximityReading(ms); };
    return mcu;
}

}  // namespace

McuHeadset::McuHeadset(const Scenario& scenario, McuScenario mcuScenario,
                       std::function<void(const McuCommand&)> onCommand)
    : headset(timingOf(scenario), scenario.startsWorn),
      mcu(withProximityOf(std::move(mcuScenario), headset)) {
    mcu.setDstatProvider([this](const McuFirmwareState& fw) { return headset.telemetryDstat(fw.atNs); });
    mcu.setCommandListener([this, onCommand = std::move(onCommand)](const McuCommand& command) {
        if (onCommand) onCommand(command);
        applyMcuCommand(headset, command);
    });
}

void McuHeadset::handle(const TimedEvent& event) {
    const int64_t now = platform::steadyNowNs();
    switch (event.event) {
        case ScenarioEvent::Doff:
        case ScenarioEvent::Don:
            headset.setWorn(event.event == ScenarioEvent::Don, now);
            return;
        case ScenarioEvent::Unplug:
            mcu.unplug();
            return;
        case ScenarioEvent::Replug:
            mcu.replug();
            headset.mcuPoweredUp(now);
            return;
        case ScenarioEvent::Silence:
        case ScenarioEvent::Talk:
            mcu.setHung(event.event == ScenarioEvent::Silence);
            return;
        default:  // the display's
            return;
    }
}

void applyMcuCommand(Headset& headset, const McuCommand& command) {
    // A silent firmware takes the report and does nothing with it.
    if (!command.applied) return;
    switch (command.command) {
        case prox::kCmdDoze:
            headset.doze(true, command.atNs);
            break;
        case prox::kCmdWake:
            headset.doze(false, command.atNs);
            break;
        case prox::kCmdBypassOn:
            headset.bypass(true, command.atNs);
            break;
        case prox::kCmdBypassOff:
            headset.bypass(false, command.atNs);
            break;
        default:
            break;
    }
}

GroundTruth groundTruthOf(const Headset& headset, const SimMcu* mcu) {
    GroundTruth truth;
    truth.transitions = headset.transitions();
    // A gone MCU keeps its state until it is powered up again.
    if (mcu == nullptr) return truth;
    truth.bypassAtExit = mcu->bypassOn() ? 1 : 0;
    truth.answeringAtExit = mcu->answering() ? 1 : 0;
    for (const McuCommand& c : mcu->mcuCommands())
        if (c.command == prox::kCmdBypassOn || c.command == prox::kCmdBypassOff)
            truth.bypassCommands.push_back({c.command, c.accepted, c.applied, c.atNs});
    return truth;
}

}  // namespace corva::sim
