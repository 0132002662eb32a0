// The HID side of the simulated MCU: interfaces, handles, input buffers, reads with
// timeout and cancel, faults.
#include "sim/mcu/sim_mcu.h"

#include "prox/prox_report.h"
#include "sim/mcu/sim_mcu_state.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corva::sim {

namespace {

template <typename T>
T failWith(unsigned long code, T result) {
    simLastError() = code;
    return result;
}

uint16_t defaultProximity(int64_t ms) {
    return uint16_t(1800 + (ms / 50) % 7 * 3);
}  // worn, a little noise

}  // namespace

unsigned long& simLastError() {
    thread_local unsigned long code = 0;
    return code;
}

std::function<uint16_t(int64_t)> wornAwayProfile(int64_t wornMs, int64_t awayMs, uint16_t wornReading,
                                                 uint16_t awayReading) {
    const int64_t period = std::max<int64_t>(1, wornMs + awayMs);
    return [=](int64_t ms) { return ms % period < wornMs ? wornReading : awayReading; };
}

SimMcu::SimMcu(McuScenario scenario) : scenario_(std::move(scenario)), fw_(std::make_unique<Firmware>()) {
    if (!scenario_.proximity) scenario_.proximity = defaultProximity;
    fw_->random.seed(scenario_.firmware.seed);
    for (size_t i = 0; i < scenario_.interfaces.size(); ++i)
        devices_.push_back({prox::kVendorId, prox::kProductId, true, scenario_.interfaces[i], i});
    if (scenario_.foreignDevices) {
        devices_.push_back({prox::kVendorId, 0x0202, false, InterfaceRole::Silent, 0});
        devices_.push_back({0x845E, 0x0001, false, InterfaceRole::Silent, 0});
    }
}

SimMcu::~SimMcu() = default;

std::shared_ptr<SimMcu::Handle> SimMcu::findLocked(HidHandle handle) const {
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles_.end() ? nullptr : it->second;
}

std::vector<HidHandle> SimMcu::openInterfaces(uint16_t vendorId, uint16_t productId) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Reports already due went out before these handles existed: a new handle must not
    // find the backlog of a stream nobody was reading (it would bury the next answer).
    pumpLocked(simNowNs());
    std::vector<HidHandle> kept;
    for (size_t d = 0; d < devices_.size(); ++d) {
        if (devices_[d].headset && !fw_->plugged) continue;
        // Opened first and filtered on its attributes, as the system does.
        auto handle = std::make_shared<Handle>();
        handle->device = d;
        const uintptr_t id = nextHandleId_++;
        ++handlesOpened_;
        if (devices_[d].vendorId == vendorId && devices_[d].productId == productId) {
            handles_[id] = handle;
            kept.push_back(reinterpret_cast<HidHandle>(id));
        }
    }
    return kept;
}

void SimMcu::close(HidHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end()) return;
    it->second->closed = true;
    handles_.erase(it);
    changed_.notify_all();
}

void SimMcu::cancelIo(HidHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto h = findLocked(handle)) {
        ++h->cancels;
        changed_.notify_all();
    }
}

unsigned long SimMcu::lastError() const {
    return simLastError();
}

// The stop event is not waited on: a stop's cancelIo reaches the model's reads however late.
int SimMcu::readReport(HidHandle handle, void*, uint8_t* buffer, size_t size, uint32_t timeoutMs, void*) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Handle> h = findLocked(handle);
    if (!h) return failWith(hid_error::kInvalidHandle, -1);
    const uint64_t cancelsAtStart = h->cancels;
    const int64_t deadline = simNowNs() + int64_t(timeoutMs) * 1000000;

    auto deliver = [&] {
        std::vector<uint8_t> bytes = std::move(h->input.front());
        h->input.pop_front();
        const size_t n = std::min(size, bytes.size());
        std::memcpy(buffer, bytes.data(), n);
        return int(n);
    };

    for (;;) {
        const int64_t now = simNowNs();
        pumpLocked(now);
        if (now >= holdFromNs_ && now < holdToNs_ && h->cancels == cancelsAtStart && !h->closed) {
            changed_.wait_for(lock, std::chrono::nanoseconds(holdToNs_ - now));
            continue;
        }
        if (h->closed) return failWith(hid_error::kInvalidHandle, -1);
        if (h->dead) return failWith(hid_error::kDeviceNotConnected, -1);
        if (!h->input.empty()) return deliver();
        if (h->cancels != cancelsAtStart) return failWith(hid_error::kOperationAborted, -1);
        if (now >= deadline) {
            // The timeout cancels the read; a report completing at that moment is still read.
            if (!completeOnTimeout_.empty()) {
                h->input.push_back(std::move(completeOnTimeout_.front()));
                completeOnTimeout_.pop_front();
                return deliver();
            }
            ++timedOutReads_;
            return 0;
        }
        int64_t wake = deadline;
        if (generatingLocked()) wake = std::min(wake, fw_->nextSendNs);
        changed_.wait_for(lock, std::chrono::nanoseconds(std::max<int64_t>(wake - now, 0)));
    }
}

void SimMcu::holdReads(int64_t fromNs, int64_t toNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdFromNs_ = fromNs;
    holdToNs_ = toNs;
    changed_.notify_all();
}

void SimMcu::pushLocked(Handle& handle, std::vector<uint8_t> bytes) {
    if (handle.input.size() >= kHidBufferReports) handle.input.pop_front();  // the oldest is overwritten
    handle.input.push_back(std::move(bytes));
    changed_.notify_all();
}

void SimMcu::emitToMcuLocked(const std::vector<uint8_t>& payload) {
    for (auto& [id, handle] : handles_) {
        const Device& device = devices_[handle->device];
        if (device.headset && device.role == InterfaceRole::Mcu && !handle->dead)
            pushLocked(*handle, frameLocked(payload));
    }
}

std::vector<uint8_t> SimMcu::frameLocked(std::vector<uint8_t> payload) const {
    if (scenario_.reportIdPrefix) payload.insert(payload.begin(), 0x00);
    return payload;
}

void SimMcu::unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    fw_->plugged = false;
    for (auto& [id, handle] : handles_)
        if (devices_[handle->device].headset) handle->dead = true;
    changed_.notify_all();
}

void SimMcu::replug() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool hung = fw_->hung, refuse = fw_->refuseFeatures;
    *fw_ = Firmware{};  // powered up afresh
    fw_->hung = hung;
    fw_->refuseFeatures = refuse;
    changed_.notify_all();
}

void SimMcu::setHung(bool hung) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Told to talk while talking, the MCU keeps its telemetry on its timer; only one that
    // was hung starts it afresh.
    if (fw_->hung == hung) return;
    pumpLocked(simNowNs());
    fw_->hung = hung;
    scheduleLocked(simNowNs() + periodNsLocked());
    changed_.notify_all();
}

void SimMcu::setRefuseFeatures(bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    fw_->refuseFeatures = refuse;
}

void SimMcu::setCommandsStuck(bool stuck) {
    std::lock_guard<std::mutex> lock(mutex_);
    fw_->commandsStuck = stuck;
}

void SimMcu::setPeriodicTelemetry(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    pumpLocked(simNowNs());
    scenario_.periodicTelemetry = on;
    scheduleLocked(simNowNs() + periodNsLocked());
    changed_.notify_all();
}

void SimMcu::injectReport(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    pumpLocked(simNowNs());
    for (auto& [id, handle] : handles_) {
        const Device& device = devices_[handle->device];
        if (device.headset && device.role == InterfaceRole::Mcu && !handle->dead) pushLocked(*handle, bytes);
    }
}

void SimMcu::injectTelemetry(uint16_t proximity) {
    std::lock_guard<std::mutex> lock(mutex_);
    pumpLocked(simNowNs());
    std::vector<uint8_t> payload = telemetryPayloadLocked(simNowNs());
    payload[4] = uint8_t(proximity >> 8);
    payload[5] = uint8_t(proximity & 0xFF);
    emitToMcuLocked(payload);
}

void SimMcu::completeAtNextTimeout(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    completeOnTimeout_.push_back(std::move(bytes));
}

void SimMcu::setProximity(std::function<uint16_t(int64_t)> profile) {
    std::lock_guard<std::mutex> lock(mutex_);
    scenario_.proximity = profile ? std::move(profile) : defaultProximity;
}

void SimMcu::setDstat(uint16_t word) {
    std::lock_guard<std::mutex> lock(mutex_);
    dstatWord_ = word;
    dstatProvider_ = nullptr;
}

void SimMcu::setDstatProvider(std::function<uint16_t(const McuFirmwareState&)> provider) {
    std::lock_guard<std::mutex> lock(mutex_);
    dstatProvider_ = std::move(provider);
}

void SimMcu::setCommandListener(std::function<void(const McuCommand&)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

size_t SimMcu::openHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.size();
}

size_t SimMcu::handlesOpenedTotal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handlesOpened_;
}

size_t SimMcu::timedOutReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timedOutReads_;
}

std::vector<McuCommand> SimMcu::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<McuCommand> SimMcu::commandsTo(size_t interfaceIndex) const {
    std::vector<McuCommand> all = commands();
    std::erase_if(all, [interfaceIndex](const McuCommand& c) { return c.interfaceIndex != interfaceIndex; });
    return all;
}

std::vector<McuCommand> SimMcu::mcuCommands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<McuCommand> received;
    for (const McuCommand& c : commands_)
        if (c.interfaceIndex < scenario_.interfaces.size() &&
            scenario_.interfaces[c.interfaceIndex] == InterfaceRole::Mcu)
            received.push_back(c);
    return received;
}

bool SimMcu::bypassOn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fw_->bypass;
}

bool SimMcu::answering() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fw_->plugged && fw_->armed && !fw_->hung && !fw_->refuseFeatures;
}

bool SimMcu::dozed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fw_->doze;
}

uint16_t SimMcu::telemetryRateMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fw_->rateMs;
}

}  // namespace corva::sim
