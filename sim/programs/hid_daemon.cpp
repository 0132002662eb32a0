// tessaray-hidd: the simulated headset's proximity microcontroller as a real HID device
// (35BD:0101 through /dev/uhid), so the program's own HID transports talk to it: Linux
// hidraw, and Wine's HID stack for the Windows program. The firmware model answers the
// feature reports and streams its telemetry; a headset model behind it follows the panels'
// power, which the simulated driver in the program's process reports through the panel
// link file. Linux only. Set up from the environment, as tessaray-sim is:
//   TESSARAY_SIM_SCENARIO    the scenario (text or "@FILE"); its microcontroller and wearer
//                            events are timed from the first rate command the device receives
//   TESSARAY_SIM_PANEL_FILE  the file the simulated driver appends the panels' power to
//   TESSARAY_SIM_TRUTH_FILE  receives the headset's ground truth when the daemon ends
// Runs until SIGTERM or SIGINT. Exit: 0, 1 the device could not be served, 2 bad scenario.
#include "lines/run_figures.h"
#include "lines/simulator_lines.h"
#include "platform/platform.h"
#include "prox/prox_report.h"
#include "sim/headset/panel_link.h"
#include "sim/headset/scenario_dispatch.h"
#include "sim/headset/scenario_runner.h"
#include "sim/mcu/headset_mcu.h"
#include "sim/mcu/uhid_device.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

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

namespace {

constexpr int kServiceTimeoutMs = 100;
constexpr uint32_t kPumpReadTimeoutMs = 100;
constexpr uint32_t kPanelPollMs = 2;

McuScenario daemonMcu(const Scenario& scenario) {
    // One interface, the microcontroller; the system lists whatever else is attached. Its
    // telemetry timer behaves as the scenario says (restarts, jitter, polling, drift, losses).
    McuScenario mcu;
    mcu.firmware = scenario.firmware;
    if (!scenario.mcuVersion.empty()) mcu.firmwareVersion = scenario.mcuVersion;
    mcu.interfaces = {InterfaceRole::Mcu};
    mcu.foreignDevices = false;
    mcu.reportIdPrefix = false;  // the descriptor has no report ids
    return mcu;
}

}  // namespace

HidDaemon::HidDaemon(HidDaemonOptions options)
    : options_(std::move(options)),
      joined_(options_.scenario, daemonMcu(options_.scenario),
              [this](const McuCommand& command) { onCommand(command); }) {
    // Dark until the driver powers the panels; without a panel link they are simply on.
    if (options_.panelFile.empty()) joined_.headset.panelPower(true, false, platform::steadyNowNs());
    joined_.headset.setWakeStampSource([this] { return wakeStampNs_.load(); });
}

HidDaemon::~HidDaemon() {
    player_.stop();
    std::lock_guard<std::mutex> lock(plugMutex_);
    if (handle_ != nullptr) joined_.mcu.close(handle_);
}

bool HidDaemon::start(std::string& error) {
    if (!device_.open()) {
        error = device_.error();
        return false;
    }
    if (options_.scenario.noMcu) return true;
    plug();
    if (!device_.created()) error = device_.error();
    return device_.created();
}

void HidDaemon::plug() {
    std::lock_guard<std::mutex> lock(plugMutex_);
    if (handle_ == nullptr) {
        const std::vector<HidHandle> found = joined_.mcu.openInterfaces(prox::kVendorId, prox::kProductId);
        if (!found.empty()) handle_ = found.front();
    }
    device_.create(prox::kVendorId, prox::kProductId, "tessaray simulated headset MCU");
}

void HidDaemon::unplug() {
    std::lock_guard<std::mutex> lock(plugMutex_);
    device_.destroy();
    if (handle_ != nullptr) joined_.mcu.close(handle_);
    handle_ = nullptr;
}

// A wake is a request for the displays after they were asked off the same way: the
// panels powered after a park, or the doze ended. Its arrival stamps the transition, so
// the ground truth holds the time from the request reaching the headset to the first
// report showing the displays on.
void HidDaemon::onCommand(const McuCommand& command) {
    if (command.accepted && command.command == prox::kCmdRate && !timelineStarted_.exchange(true)) {
        // The display's events are the simulated driver's, in the program's process.
        ScenarioDispatcher routes;
        for (EventTarget target : {EventTarget::Microcontroller, EventTarget::Wearer})
            routes.plug(target, [this](const TimedEvent& e) { handle(e); });
        routes.play(player_, options_.scenario.timeline, command.atNs, corva::lines::kSimHiddVoice);
    }
    if (command.accepted && command.command == prox::kCmdDoze) dozed_ = true;
    if (command.accepted && command.command == prox::kCmdWake && dozed_) {
        dozed_ = false;
        wakeStampNs_.store(command.atNs);
    }
}

void HidDaemon::handle(const TimedEvent& event) {
    joined_.handle(event);
    if (event.event == ScenarioEvent::Unplug) unplug();
    if (event.event == ScenarioEvent::Replug) plug();
}

bool HidDaemon::onFeature(const uint8_t* data, size_t size) {
    HidHandle handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(plugMutex_);
        handle = handle_;
    }
    return handle != nullptr && joined_.mcu.setFeature(handle, data, size);
}

void HidDaemon::pumpLoop() {
    uint8_t report[prox::kReportBytes];
    while (!halt_.load()) {
        HidHandle handle = nullptr;
        {
            std::lock_guard<std::mutex> lock(plugMutex_);
            handle = handle_;
        }
        // The handle is closed only by unplug(), on the timeline thread; a read on a closed
        // handle fails at once and the next pass takes the new one.
        const int got =
            handle ? joined_.mcu.readReport(handle, nullptr, report, sizeof report, kPumpReadTimeoutMs) : -1;
        if (got > 0) {
            if (device_.sendInput(report, size_t(got))) inputsSent_.fetch_add(1);
        } else if (got < 0) {
            platform::sleepMs(20);
        }
    }
}

void HidDaemon::panelLoop() {
    PanelLinkReader reader(options_.panelFile);
    while (!halt_.load()) {
        for (const PanelChange& change : reader.poll()) {
            const int64_t now = platform::steadyNowNs();
            if (change.on && panelsOff_) wakeStampNs_.store(now);
            panelsOff_ = !change.on;
            joined_.headset.panelPower(change.on, change.compressed, now);
        }
        platform::sleepMs(kPanelPollMs);
    }
}

bool HidDaemon::run(const std::atomic<bool>& stop, std::string& error) {
    halt_.store(false);
    std::thread pump([this] { pumpLoop(); });
    std::thread panels;
    if (!options_.panelFile.empty()) panels = std::thread([this] { panelLoop(); });
    bool ok = true;
    while (!stop.load() && ok)
        ok = device_.serviceOne(kServiceTimeoutMs, [this](uint8_t, const uint8_t* data, size_t size) {
            return onFeature(data, size);
        });
    if (!ok) error = device_.error();
    halt_.store(true);
    player_.stop();
    pump.join();
    if (panels.joinable()) panels.join();
    unplug();
    return ok;
}

}  // namespace corva::sim

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) {
    gStop.store(true);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

int main() {
    corva::sim::Scenario scenario;
    if (!corva::sim::loadScenario(corva::lines::kSimHiddVoice, scenario)) return corva::run::kExitBadScenario;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    corva::sim::HidDaemon daemon({scenario, environment(corva::sim::kPanelFileVariable)});
    std::string error;
    if (!daemon.start(error)) {
        corva::lines::printSimulatorLine(corva::lines::kHiddFailed, error.c_str());
        return 1;
    }
    corva::lines::printSimulatorLine(corva::lines::kHiddServing,
                                     scenario.noMcu ? " (no-mcu: not plugged)" : "");
    const bool ok = daemon.run(gStop, error);
    if (!ok) corva::lines::printSimulatorLine(corva::lines::kHiddFailed, error.c_str());

    const std::string truthFile = environment("TESSARAY_SIM_TRUTH_FILE");
    if (!truthFile.empty() && !corva::sim::writeGroundTruthFile(
                                  corva::sim::groundTruthOf(daemon.headset(), &daemon.mcu()), truthFile))
        corva::lines::printSimulatorLine(corva::lines::kHiddTruthNotWritten, truthFile.c_str());
    corva::lines::printSimulatorLine(corva::lines::kHiddReportsSent,
                                     static_cast<unsigned long long>(daemon.inputReportsSent()));
    return ok ? 0 : 1;
}
