// The simulated proximity MCU served as a real HID device (through /dev/uhid), so the
// program's own HID transports talk to it: Linux hidraw, and Wine's HID stack for the
// Windows program. The firmware model answers the feature reports and streams its
// telemetry; a headset model behind it follows the panels' power, which the simulated
// driver in the program's process reports through the panel link file. The scenario's
// microcontroller events (unplug, replug, silence, talk, doff, don) are played here,
// timed from the first rate command the device receives. Linux only.
#pragma once

#include "sim/headset/panel_link.h"
#include "sim/headset/scenario.h"
#include "sim/headset/scenario_runner.h"
#include "sim/mcu/headset_mcu.h"
#include "sim/mcu/uhid_device.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace corva::sim {

struct HidDaemonOptions {
    Scenario scenario;
    std::string panelFile;  // empty: the panels stay as powered at start (on)
};

class HidDaemon {
  public:
    explicit HidDaemon(HidDaemonOptions options);
    ~HidDaemon();

    // Opens /dev/uhid and plugs the device in (unless the scenario has no MCU).
    bool start(std::string& error);
    // Services the device until `stop` is raised; false when the device file failed.
    bool run(const std::atomic<bool>& stop, std::string& error);

    const Headset& headset() const { return joined_.headset; }
    const SimMcu& mcu() const { return joined_.mcu; }
    // Telemetry and other input reports handed to the kernel.
    uint64_t inputReportsSent() const { return inputsSent_.load(); }

  private:
    void plug();
    void unplug();
    void handle(const TimedEvent& event);
    void onCommand(const McuCommand& command);
    bool onFeature(const uint8_t* data, size_t size);
    void pumpLoop();
    void panelLoop();

    HidDaemonOptions options_;
    McuHeadset joined_;
    UhidDevice device_;
    TimelinePlayer player_;
    std::mutex plugMutex_;        // the MCU handle and the device's presence
    HidHandle handle_ = nullptr;  // the firmware model's side of the device
    std::atomic<bool> timelineStarted_{false};
    std::atomic<int64_t> wakeStampNs_{0};  // the latest wake request that reached the headset
    bool panelsOff_ = false;               // panel-link thread only
    bool dozed_ = false;                   // service thread only
    std::atomic<uint64_t> inputsSent_{0};
    std::atomic<bool> halt_{false};  // ends the pump and panel threads
};

}  // namespace corva::sim
