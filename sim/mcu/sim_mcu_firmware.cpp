// The firmware side of the simulated MCU: commands, acknowledgements, version replies
// and the telemetry stream, produced lazily whenever the model is touched.
#include "prox/prox_report.h"
#include "sim/mcu/sim_mcu.h"
#include "sim/mcu/sim_mcu_state.h"

#include <algorithm>

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

void SimMcu::pumpLocked(int64_t nowNs) {
    if (!generatingLocked()) return;
    const int64_t periodNs = int64_t(fw_->rateMs) * 1000000;
    // Reports the input buffer could not have held are lost, as with a reader that lags.
    const int64_t behind = (nowNs - fw_->nextDueNs) / periodNs;
    if (behind > int64_t(kHidBufferReports))
        fw_->nextDueNs += (behind - int64_t(kHidBufferReports)) * periodNs;
    while (generatingLocked() && fw_->nextDueNs <= nowNs) {
        emitToMcuLocked(telemetryPayloadLocked(fw_->nextDueNs));
        fw_->nextDueNs += periodNs;
        if (fw_->ackPending && --fw_->ackCountdown == 0) {
            fw_->ackPending = false;
            emitToMcuLocked(padded({prox::kRateAckTag, uint8_t(fw_->rateMs >> 8), uint8_t(fw_->rateMs)}));
        }
    }
}

void SimMcu::firmwareCommandLocked(const uint8_t* report, size_t size, int64_t nowNs) {
    pumpLocked(nowNs);
    if (fw_->hung || size < 2) return;
    switch (char(report[1])) {
        case prox::kCmdRate: {
            const uint16_t rate = size >= 4 ? uint16_t((report[2] << 8) | report[3]) : 0;
            if (!fw_->armed) fw_->streamStartNs = nowNs;
            fw_->armed = true;
            fw_->rateMs = std::max<uint16_t>(rate, 1);
            fw_->nextDueNs = nowNs + int64_t(fw_->rateMs) * 1000000;
            fw_->ackPending = scenario_.telemetryBeforeAck > 0;
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

bool SimMcu::setFeature(HidHandle handle, const uint8_t* report, size_t size) {
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
                          device.index, ok, now};
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
