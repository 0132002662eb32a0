// The firmware side of the simulated MCU: commands, acknowledgements, version replies
// and the telemetry stream, produced lazily whenever the model is touched.
#include "prox/prox_report.h"
#include "sim/mcu/sim_mcu.h"
#include "sim/mcu/sim_mcu_state.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace corva::sim {

namespace {

constexpr size_t kPayloadBytes = 64;

std::vector<uint8_t> padded(std::vector<uint8_t> payload) {
    if (payload.size() < kPayloadBytes) payload.resize(kPayloadBytes, 0);
    return payload;
}

}  // namespace

bool SimMcu::generatingLocked() const {
    return fw_->plugged && fw_->armed && !fw_->hung && (scenario_.periodicTelemetry || fw_->ackPending);
}

std::vector<uint8_t> SimMcu::telemetryPayloadLocked(int64_t atNs) {
    std::vector<uint8_t> payload(std::max<size_t>(6, scenario_.telemetryPayloadBytes), 0);
    const uint32_t sequence = fw_->sequence++;
    payload[0] = prox::kTelemetryTag;
    payload[1] = uint8_t(sequence >> 16);
    payload[2] = uint8_t(sequence >> 8);
    payload[3] = uint8_t(sequence);
    const uint16_t proximity = scenario_.proximity((atNs - fw_->streamStartNs) / 1000000);
    payload[4] = uint8_t(proximity >> 8);
    payload[5] = uint8_t(proximity & 0xFF);
    if (payload.size() >= 26) {
        const McuFirmwareState state{fw_->bypass, fw_->doze, fw_->rateMs, atNs};
        const uint16_t word =
            dstatProvider_ ? dstatProvider_(state) : uint16_t(fw_->doze ? dstatWord_ & ~1u : dstatWord_);
        payload[24] = uint8_t(word >> 8);
        payload[25] = uint8_t(word & 0xFF);
    }
    return payload;
}

int64_t SimMcu::periodNsLocked() const {
    const int64_t periodNs = int64_t(std::max<uint16_t>(fw_->rateMs, 1)) * 1000000;
    return periodNs - periodNs * scenario_.firmware.driftPpm / 1000000;
}

void SimMcu::scheduleLocked(int64_t timerNs) {
    const FirmwareBehaviour& b = scenario_.firmware;
    fw_->nextDueNs = timerNs;
    int64_t sendNs = timerNs;
    if (b.jitterMs > 0)
        sendNs += int64_t(std::uniform_real_distribution<double>(0.0, b.jitterMs * 1e6)(fw_->random));
    if (b.pollMs > 0) {
        // The host polls on its 1 ms frames, every pollMs of them.
        const int64_t pollNs = int64_t(b.pollMs) * 1000000;
        sendNs = (sendNs + pollNs - 1) / pollNs * pollNs;
    }
    // Reports leave in order, however the jitter falls.
    fw_->nextSendNs = std::max(sendNs, fw_->lastSendNs + 1);
}

void SimMcu::pumpLocked(int64_t nowNs) {
    if (!generatingLocked()) return;
    const int64_t periodNs = periodNsLocked();
    // Reports the input buffer could not have held are lost, as with a reader that lags.
    const int64_t behind = (nowNs - fw_->nextDueNs) / periodNs;
    if (behind > int64_t(kHidBufferReports))
        scheduleLocked(fw_->nextDueNs + (behind - int64_t(kHidBufferReports)) * periodNs);
    while (generatingLocked() && fw_->nextSendNs <= nowNs) {
        const int64_t sentNs = fw_->nextSendNs;
        fw_->lastSendNs = sentNs;
        const double loss = scenario_.firmware.lossPercent;
        if (loss > 0 && std::uniform_real_distribution<double>(0.0, 100.0)(fw_->random) < loss) {
            ++fw_->sequence;  // sent, never read: its display state is not seen
        } else {
            emitToMcuLocked(telemetryPayloadLocked(sentNs));
        }
        scheduleLocked(fw_->nextDueNs + periodNs);
        if (fw_->ackPending && --fw_->ackCountdown == 0) {
            fw_->ackPending = false;
            emitToMcuLocked(padded({prox::kRateAckTag, uint8_t(fw_->rateMs >> 8), uint8_t(fw_->rateMs)}));
        }
    }
}

void SimMcu::firmwareCommandLocked(const uint8_t* report, size_t size, int64_t nowNs) {
    pumpLocked(nowNs);
    if (fw_->hung || size < 2) return;
    const FirmwareBehaviour& b = scenario_.firmware;
    const char command = char(report[1]);
    // A firmware that restarts its telemetry timer on this command (the rate command always does).
    if (fw_->armed && (b.restartOnCommand || (command == prox::kCmdDoze && b.restartOnDoze) ||
                       (command == prox::kCmdWake && b.restartOnWake)))
        scheduleLocked(nowNs + periodNsLocked());
    switch (command) {
        case prox::kCmdRate: {
            const uint16_t rate = size >= 4 ? uint16_t((report[2] << 8) | report[3]) : 0;
            if (!fw_->armed) fw_->streamStartNs = nowNs;
            fw_->armed = true;
            fw_->rateMs = std::max<uint16_t>(rate, 1);
            scheduleLocked(nowNs + periodNsLocked());
            // A jittered firmware answers at once: with reports up to a second late, the '$'
            // behind a few of them would outlast the probe's reads, and such a scenario is
            // about the telemetry, not discovery.
            fw_->ackPending = scenario_.telemetryBeforeAck > 0 && b.jitterMs <= 0.0;
            fw_->ackCountdown = scenario_.telemetryBeforeAck;
            if (!fw_->ackPending)
                emitToMcuLocked(padded({prox::kRateAckTag, uint8_t(fw_->rateMs >> 8), uint8_t(fw_->rateMs)}));
            break;
        }
        case prox::kCmdVersion: {
            if (scenario_.versionReply == VersionReply::Unanswered) break;
            std::vector<uint8_t> reply{scenario_.versionReply == VersionReply::Malformed ? uint8_t('?')
                                                                                         : prox::kVersionTag};
            reply.insert(reply.end(), scenario_.firmwareVersion.begin(), scenario_.firmwareVersion.end());
            reply.resize(std::min(reply.size(), kPayloadBytes));  // a full payload carries no NUL
            emitToMcuLocked(padded(std::move(reply)));
            break;
        }
        case prox::kCmdBypassOn:
            fw_->bypass = true;
            break;
        case prox::kCmdBypassOff:
            fw_->bypass = false;
            break;
        case prox::kCmdDoze:
            fw_->doze = true;
            break;
        case prox::kCmdWake:
            fw_->doze = false;
            break;
        default:
            break;
    }
}

bool SimMcu::setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::shared_ptr<Handle> h = findLocked(handle);
        if (h && !h->dead && devices_[h->device].role == InterfaceRole::Mcu && fw_->commandsStuck) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            simLastError() = hid_error::kOperationAborted;
            return false;
        }
    }
    McuCommand record;
    std::function<void(const McuCommand&)> listener;
    bool recorded = false;
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Handle> h = findLocked(handle);
        if (!h) {
            simLastError() = hid_error::kInvalidHandle;
        } else if (h->dead) {
            simLastError() = hid_error::kDeviceNotConnected;
        } else {
            const Device& device = devices_[h->device];
            const int64_t now = simNowNs();
            switch (device.role) {
                case InterfaceRole::RefusesFeatures:
                    ok = false;
                    break;
                case InterfaceRole::Silent:
                    ok = true;
                    break;
                case InterfaceRole::Chatty:
                    ok = true;
                    pushLocked(*h, frameLocked(padded({'E', size >= 2 ? report[1] : uint8_t(0)})));
                    break;
                case InterfaceRole::Mcu:
                    ok = !fw_->refuseFeatures;
                    if (ok) firmwareCommandLocked(report, size, now);
                    break;
            }
            if (!ok) simLastError() = hid_error::kGenFailure;
            if (device.headset && size >= 2) {
                record = {char(report[1]),
                          size >= 4 && report[1] == uint8_t(prox::kCmdRate)
                              ? uint16_t((report[2] << 8) | report[3])
                              : uint16_t(0),
                          device.index,
                          ok,
                          ok && device.role == InterfaceRole::Mcu && !fw_->hung,
                          now};
                commands_.push_back(record);
                recorded = device.role == InterfaceRole::Mcu;
                listener = listener_;
            }
        }
    }
    if (recorded && listener) listener(record);
    return ok;
}

}  // namespace corva::sim
