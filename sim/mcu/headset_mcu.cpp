#include "sim/mcu/headset_mcu.h"

#include "platform/platform.h"
#include "prox/prox_report.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

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
    if (!command.accepted) return;
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

std::string groundTruthText(const Headset& headset, const SimMcu* mcu) {
    std::string text = "# tessaray-sim ground truth; times in steady-clock nanoseconds\n";
    char line[256];
    const std::vector<DisplaysTransition> transitions = headset.transitions();
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
    if (mcu != nullptr) {
        std::snprintf(line, sizeof line, "mcu_bypass_at_exit %d\n", mcu->bypassOn() ? 1 : 0);
        text += line;
    }
    for (const DisplaysTransition& t : transitions) {
        if (!t.on || t.wakeStampNs == 0 || t.firstReportNs == 0) continue;
        std::snprintf(line, sizeof line, "wake_latency_ms %.3f\n",
                      double(t.firstReportNs - t.wakeStampNs) / 1e6);
        text += line;
    }
    return text;
}

bool writeGroundTruth(const Headset& headset, const SimMcu* mcu, const std::string& path) {
    std::ofstream file(path, std::ios::trunc);
    file << groundTruthText(headset, mcu);
    return bool(file.flush());
}

}  // namespace corva::sim
