// What joins the proximity MCU to the headset model, wherever the two run: the MCU's
// commands reach the headset, and the headset's ground truth is written out as text.
#pragma once

#include "sim/headset/headset.h"
#include "sim/mcu/sim_mcu.h"

#include <string>

namespace corva::sim {

// Doze, wake and the proximity bypass reach the headset (accepted commands only).
void applyMcuCommand(Headset& headset, const McuCommand& command);

// Every displays transition, whether the MCU (if given) has its bypass on, then the wake
// latency of each stamped wake (the stamp to the first telemetry report showing the
// displays on).
std::string groundTruthText(const Headset& headset, const SimMcu* mcu);
bool writeGroundTruth(const Headset& headset, const SimMcu* mcu, const std::string& path);

}  // namespace corva::sim
