#include "sim/mcu/headset_mcu.h"

#include "prox/prox_report.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace corva::sim {

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
