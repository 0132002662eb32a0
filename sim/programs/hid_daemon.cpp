#include "sim/programs/hid_daemon.h"

#include "platform/platform.h"
#include "prox/prox_report.h"
#include "sim/mcu/headset_mcu.h"
#include "sim/headset/scenario_dispatch.h"

#include <thread>

namespace corva::sim {

namespace {

constexpr int kServiceTimeoutMs = 100;
constexpr uint32_t kPumpReadTimeoutMs = 100;
constexpr uint32_t kPanelPollMs = 2;

McuScenario daemonMcu() {
    // One interface, the microcontroller; the system lists whatever else is attached.
    McuScenario mcu;
    mcu.interfaces = {InterfaceRole::Mcu};
    mcu.foreignDevices = false;
    mcu.reportIdPrefix = false;  // the descriptor has no report ids
    return mcu;
}

}  // namespace

HidDaemon::HidDaemon(HidDaemonOptions options)
    : options_(std::move(options)),
      joined_(options_.scenario, daemonMcu(), [this](const McuCommand& command) { onCommand(command); }) {
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
        routes.play(player_, options_.scenario.timeline, command.atNs, "tessaray-hidd");
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
