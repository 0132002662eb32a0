// The bypass restore at the end of a run: the '[' and the microcontroller's own word that
// it took it.
#include "platform/platform.h"
#include "prox/mcu_prox.h"
#include "prox/prox_report.h"

#include <cerrno>

namespace corva {

namespace {

// A full input buffer of reports read late (the HID class driver keeps 32 by default), then
// as many as the probe allows before its '$'.
constexpr uint32_t kAnswerReads = 32 + 10;
constexpr uint32_t kAnswerReadTimeoutMs = 500;

}  // namespace

// The simulated MCU uses the Windows codes on every build.
bool prox::handleGone(unsigned long code) {
    switch (code) {
        case hid_error::kInvalidHandle:
        case hid_error::kDeviceNotConnected:
#ifndef _WIN32
        case EBADF:
        case ENODEV:
        case ESHUTDOWN:
#endif
            return true;
        default:
            return false;
    }
}

McuProx::Answer McuProx::clearBypassOn(HidHandle handle, int64_t deadlineNs, bool foundByProbe) {
    const prox::CommandReport off = prox::commandReport(prox::kCmdBypassOff);
    // The commands too end by the deadline: a stuck device must not hold the teardown.
    if (!transport_.setFeature(handle, off.data(), off.size(),
                               prox::readTimeoutBefore(deadlineNs, kFeatureTimeoutMs))) {
        const unsigned long error = transport_.lastError();
        // A request the device did not finish in time was cancelled: it is stuck, not refusing.
        if (error == hid_error::kOperationAborted) return Answer::Unanswered;
        // A device being unplugged fails the request it is given with the code of a refusal:
        // it is probed again, and refuses only if it is found there and refuses once more.
        const bool mayBeGoing = error == hid_error::kGenFailure && !foundByProbe;
        return prox::handleGone(error) || mayBeGoing ? Answer::HandleDead : Answer::Refused;
    }
    const prox::CommandReport rate = prox::commandReport(prox::kCmdRate, rateMs);
    if (!transport_.setFeature(handle, rate.data(), rate.size(),
                               prox::readTimeoutBefore(deadlineNs, kFeatureTimeoutMs)))
        return prox::handleGone(transport_.lastError()) ? Answer::HandleDead : Answer::Unanswered;
    uint8_t buffer[prox::kReportBytes];
    for (uint32_t i = 0; i < kAnswerReads; ++i) {
        const uint32_t timeoutMs = prox::readTimeoutBefore(deadlineNs, kAnswerReadTimeoutMs);
        if (timeoutMs == 0) break;
        const int got = readReport(handle, readEvent, buffer, sizeof(buffer), timeoutMs);
        if (got < 0) return Answer::HandleDead;
        if (got == 0) break;  // silent: it may have ignored both
        if (prox::normaliseReport(buffer, size_t(got)).tag() == prox::kRateAckTag) return Answer::Confirmed;
    }
    return Answer::Unanswered;
}

RestoreVerdict McuProx::restoreBypass(int64_t deadlineNs) {
    // After a close, log-off or shut-down it gets only the time left before the teardown's deadline.
    deadlineNs = platform::teardownBoundNs(deadlineNs);
    // From here this thread alone uses the device, and nothing else probes for it.
    stopReader();
    {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        bypassWanted_ = false;
    }
    auto verdictOf = [](Answer answer) {
        return answer == Answer::Confirmed ? RestoreVerdict::Ok
               : answer == Answer::Refused ? RestoreVerdict::Failed
                                           : RestoreVerdict::NotConfirmed;
    };
    if (device != nullptr) {
        const Answer answer = clearBypassOn(device, deadlineNs);
        if (answer != Answer::HandleDead) return verdictOf(answer);
        dropDevice();
    }
    // Gone, waiting out the reconnect, or the handle dead: a device that is there (back
    // after a reset with its bypass still on, perhaps) is found now and told.
    bool refused = false;
    const HidHandle found =
        readEvent != nullptr ? probeRate(rateMs, readEvent, {deadlineNs, nullptr}, &refused) : nullptr;
    // No candidate answered; one that was there and refused the probe's command refuses commands.
    if (found == nullptr) return refused ? RestoreVerdict::Failed : RestoreVerdict::NotConfirmed;
    adoptDevice(found);
    return verdictOf(clearBypassOn(found, deadlineNs, true));
}

}  // namespace corva
