// What joins the proximity MCU to the headset model, wherever the two run: the MCU's
// commands reach the headset, and the headset's ground truth is taken.
#pragma once

#include "sim/headset/ground_truth.h"
#include "sim/headset/headset.h"
#include "sim/headset/scenario.h"
#include "sim/mcu/sim_mcu.h"

#include <functional>
#include <string>

namespace corva::sim {

// The headset model and its microcontroller as the scenario sets them up, joined: the
// telemetry reports the headset's display-status word and its wearer's proximity, and the
// MCU's accepted commands reach the headset after `onCommand` (if any) has seen them.
struct McuHeadset {
    McuHeadset(const Scenario& scenario, McuScenario mcuScenario,
               std::function<void(const McuCommand&)> onCommand = nullptr);
    McuHeadset(const McuHeadset&) = delete;
    McuHeadset& operator=(const McuHeadset&) = delete;

    // The scenario's wearer and microcontroller events (doff, don, unplug, replug, silence,
    // talk); the display's are not theirs.
    void handle(const TimedEvent& event);

    Headset headset;
    SimMcu mcu;
};

// Doze, wake and the proximity bypass reach the headset (accepted commands only).
void applyMcuCommand(Headset& headset, const McuCommand& command);

// Every displays transition and, if an MCU is given, its bypass and answering at exit and the
// bypass commands it received.
GroundTruth groundTruthOf(const Headset& headset, const SimMcu* mcu);

}  // namespace corva::sim
