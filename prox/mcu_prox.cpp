#include "prox/mcu_prox.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/platform.h"
#include "prox/device_text.h"
#include "prox/prox_report.h"

#include <chrono>

namespace corva {

namespace {

constexpr uint32_t kProbeReads = 10;
constexpr uint32_t kVersionReads = 12;
constexpr uint32_t kCommandReadTimeoutMs = 500;

}  // namespace

uint32_t prox::readTimeoutBefore(int64_t deadlineNs, uint32_t timeoutMs) {
    // Once the teardown's deadline runs, it bounds every wait too.
    timeoutMs = platform::teardownWaitMs(timeoutMs);
    if (deadlineNs == 0) return timeoutMs;
    const int64_t leftMs = (deadlineNs - platform::steadyNowNs()) / 1000000;
    return leftMs <= 0 ? 0 : leftMs < int64_t(timeoutMs) ? uint32_t(leftMs) : timeoutMs;
}

McuProx::McuProx() : McuProx(systemHidTransport()) {}

McuProx::McuProx(HidTransport& transport) : transport_(transport) {}

McuProx::~McuProx() {
    close();
}

std::vector<HidHandle> McuProx::enumerateProxInterfaces() {
    return transport_.openInterfaces(prox::kVendorId, prox::kProductId);
}

int McuProx::readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                        void* stopEvent) {
    return transport_.readReport(handle, event, buffer, size, timeoutMs, stopEvent);
}

// The stop (stopReader()) also cancels the candidate's pending read: teardown must fit the
// time Windows gives it at a log-off or shut-down.
HidHandle McuProx::probeRate(uint16_t rate, void* event, ProbeLimits limits, bool* refused) {
    HidHandle chosen = nullptr;
    if (refused != nullptr) *refused = false;
    const prox::CommandReport command = prox::commandReport(prox::kCmdRate, rate);
    auto givenUp = [&limits] {
        return (limits.abandon != nullptr && limits.abandon->load()) ||
               prox::readTimeoutBefore(limits.deadlineNs, kCommandReadTimeoutMs) == 0;
    };
    for (HidHandle candidate : enumerateProxInterfaces()) {
        if (chosen != nullptr || givenUp()) {
            transport_.close(candidate);
            continue;
        }
        if (!transport_.setFeature(candidate, command.data(), command.size())) {
            const unsigned long error = transport_.lastError();
            if (refused != nullptr && !prox::handleGone(error) && error != hid_error::kOperationAborted)
                *refused = true;
            transport_.close(candidate);
            continue;
        }
        setProbing(candidate);
        uint8_t buffer[prox::kReportBytes];
        for (uint32_t i = 0; i < kProbeReads && !givenUp(); ++i) {
            const uint32_t timeoutMs = prox::readTimeoutBefore(limits.deadlineNs, kCommandReadTimeoutMs);
            const int got = readReport(candidate, event, buffer, sizeof(buffer), timeoutMs, limits.stopEvent);
            if (got <= 0) break;
            const uint8_t tag = prox::normaliseReport(buffer, size_t(got)).tag();
            if (tag == prox::kTelemetryTag) continue;
            if (tag == prox::kRateAckTag) chosen = candidate;
            break;
        }
        setProbing(nullptr);
        if (chosen != candidate) transport_.close(candidate);
    }
    return chosen;
}

void McuProx::setProbing(HidHandle candidate) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    probing_ = candidate;
}

std::string McuProx::queryFirmware(HidHandle handle) {
    const prox::CommandReport command = prox::commandReport(prox::kCmdVersion);
    if (!transport_.setFeature(handle, command.data(), command.size())) return {};
    uint8_t buffer[prox::kReportBytes];
    for (uint32_t i = 0; i < kVersionReads; ++i) {
        const int got = readReport(handle, readEvent, buffer, sizeof(buffer), kCommandReadTimeoutMs);
        if (got <= 0) return {};
        const prox::Payload payload = prox::normaliseReport(buffer, size_t(got));
        if (payload.size < 2 || payload.tag() == prox::kTelemetryTag) continue;
        if (payload.tag() != prox::kVersionTag) return {};
        return prox::versionText(payload);
    }
    return {};
}

bool McuProx::open(uint16_t rate) {
    if (running.load()) return true;
    rateMs = rate;
    void* event = platform::createEvent(true, false);
    HidHandle chosen = event != nullptr ? probeRate(rateMs, event) : nullptr;
    if (chosen == nullptr) {
        if (event != nullptr) platform::closeHandle(event);
        lines::print(lines::kMcuNotFound);
        return false;
    }
    readEvent = event;
    firmware = queryFirmware(chosen);
    dozeCapable = prox::firmwareSupportsDoze(firmware);

    adoptDevice(chosen);
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        firstAverage_ = false;
    }
    if (readerStop_ == nullptr)
        readerStop_ = platform::createEvent(true, false);  // none: the cancel alone stops the reads
    else
        platform::resetEvent(readerStop_);
    stopRequested.store(false);
    running.store(true);
    reader = std::thread(&McuProx::readerLoop, this);

    const std::string printableFirmware = prox::printableDeviceText(firmware);
    lines::print(lines::kMcuTelemetry, unsigned(rateMs), unsigned(threshold), unsigned(hysteresis),
                 firmware.empty() ? lines::kFirmwareUnknown : printableFirmware.c_str(),
                 dozeCapable ? lines::kDozeCapable : lines::kDozeUnavailable);
    awaitFirstAverage();
    return true;
}

void McuProx::awaitFirstAverage() {
    // Eight telemetry intervals with room to spare: long enough for a streaming MCU, short
    // enough that a silent one delays start-up only briefly. The reader also gives up the
    // wait when the device goes away.
    const auto limit = std::chrono::milliseconds(10 * uint32_t(rateMs) + 100);
    std::unique_lock<std::mutex> lock(startMutex_);
    startCv_.wait_for(lock, limit, [this] { return firstAverage_; });
}

void McuProx::noteFirstAverage() {
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        if (firstAverage_) return;
        firstAverage_ = true;
    }
    startCv_.notify_all();
}

bool McuProx::sendCommandLocked(char command) {
    if (device == nullptr) return false;
    const prox::CommandReport report = prox::commandReport(command);
    return transport_.setFeature(device, report.data(), report.size());
}

bool McuProx::sendCommand(char command) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    return sendCommandLocked(command);
}

// Under the device lock, so a reconnect cannot slip a 'p' in after the final '['.
bool McuProx::setBypass(bool on) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    const bool ok = sendCommandLocked(on ? prox::kCmdBypassOn : prox::kCmdBypassOff);
    bypassWanted_ = on && ok;
    return ok;
}

McuProx::BypassAnswer McuProx::switchBypassOn(int64_t deadlineNs) {
    BypassAnswer answer;
    uint32_t acks = 0;
    {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        acks = rateAcks_.load();
        answer.accepted = bypassWanted_ = sendCommandLocked(prox::kCmdBypassOn);
        const prox::CommandReport rate = prox::commandReport(prox::kCmdRate, rateMs);
        if (!answer.accepted || !transport_.setFeature(device, rate.data(), rate.size())) return answer;
    }
    deadlineNs = platform::teardownBoundNs(deadlineNs);
    while (rateAcks_.load() == acks && !deviceGone_.load() && platform::steadyNowNs() < deadlineNs)
        platform::sleepMs(2);
    answer.confirmed = rateAcks_.load() != acks;
    return answer;
}

bool McuProx::setDoze(bool doze) {
    return sendCommand(doze ? prox::kCmdDoze : prox::kCmdWake);
}

void McuProx::adoptDevice(HidHandle handle) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device = handle;
    deviceGone_.store(false);
}

// The lines are printed under the device lock, so they come out in the order of the
// commands on the wire: a final '[' (setBypass takes the same lock) is logged after them.
void McuProx::adoptReconnected(HidHandle handle) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device = handle;
    lines::print(lines::kMcuReconnected);
    // A replugged MCU starts with its bypass off: taken off, the headset would blank.
    if (bypassWanted_) {
        bypassWanted_ = sendCommandLocked(prox::kCmdBypassOn);  // failed: the device runs without it
        lines::print(lines::kMcuBypassResent, bypassWanted_ ? lines::kResentOk : lines::kBypassFailed);
    }
    deviceGone_.store(false);  // back, with the bypass as it was
}

void McuProx::dropDevice() {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (device != nullptr) transport_.close(device);
    device = nullptr;
}

void McuProx::stopReader() {
    stopRequested.store(true);
    if (readerStop_ != nullptr) platform::setEvent(readerStop_);
    {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        if (device != nullptr) transport_.cancelIo(device);
        if (probing_ != nullptr) transport_.cancelIo(probing_);  // a reconnect's candidate
    }
    if (reader.joinable()) reader.join();
    running.store(false);
}

void McuProx::close() {
    // The reader may have been stopped already (the bypass restore), its handles still open.
    if (!running.load() && !reader.joinable() && device == nullptr && readEvent == nullptr &&
        readerStop_ == nullptr)
        return;
    stopReader();
    dropDevice();
    if (readEvent != nullptr) {
        platform::closeHandle(readEvent);
        readEvent = nullptr;
    }
    if (readerStop_ != nullptr) {
        platform::closeHandle(readerStop_);
        readerStop_ = nullptr;
    }
    running.store(false);
}

}  // namespace corva
