// One simulated headset for a whole tessaray-sim run: the driver's display, the proximity
// MCU and the headset model that joins them, set up from a scenario whose timeline is then
// played against them. The ground truth can be written out at the end.
#pragma once

#include "sim/headset/ground_truth.h"
#include "sim/headset/panel_link.h"
#include "sim/headset/scenario.h"
#include "sim/headset/scenario_dispatch.h"
#include "sim/headset/scenario_runner.h"
#include "sim/mcu/headset_mcu.h"

#include <functional>
#include <string>

namespace corva::sim {

class SimSession {
  public:
    explicit SimSession(const Scenario& scenario);
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    // Where the program finds the microcontroller: the model in this process, installed as
    // the HID transport, or the system's HID devices (the HID daemon's, which follows the
    // panels through the panel link file).
    enum class Mcu { InProcess, SystemHid };

    // Resets the display to the scenario's start, joins display, MCU and headset, installs
    // the MCU as the HID transport and starts the timeline, timed from `startNs`.
    // `wakeStamp` reads the program's pending wake-request stamp (0: none).
    void start(int64_t startNs, std::function<int64_t()> wakeStamp, Mcu mcu = Mcu::InProcess);
    // Stops the timeline, detaches the headset from the display and uninstalls the MCU as
    // the HID transport; idempotent.
    void stop();

    Headset& headset() { return joined_.headset; }
    SimMcu& mcu() { return joined_.mcu; }

    // The headset's transitions, and the wake latency each wake request really had (the
    // request stamp to the first telemetry report showing the displays on).
    // Then the display's presents, vertical blanks and panel power.
    GroundTruth groundTruth() const;
    std::string groundTruthText() const;
    bool writeGroundTruth(const std::string& path) const;

    // A sleep's step under the scenario's coarse timer: Windows' default timer period.
    static constexpr int64_t kCoarseTimerStepNs = 15625000;

  private:
    void breakTiming(int64_t startNs);
    void panelPowerChanged(bool on, int64_t atNs);

    Scenario scenario_;
    McuHeadset joined_;
    ScenarioDisplay display_;
    ScenarioDispatcher dispatcher_;
    TimelinePlayer player_;
    PanelLinkWriter panelLink_;
    bool started_ = false;
    bool panelsWereOff_ = false;
    int32_t parkWakes_ = 0;
};

}  // namespace corva::sim
