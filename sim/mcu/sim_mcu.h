// The simulated headset's proximity microcontroller and the HID interfaces it sits among,
// behind the same transport interface the link uses on Windows. Faults can be switched
// on and off while the link runs; every command and handle is recorded for tests.
#pragma once

#include "platform/hid_transport.h"
#include "sim/mcu/firmware_behaviour.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corva::sim {

// What one 35BD:0101 HID interface of the headset does with feature reports.
enum class InterfaceRole {
    Mcu,              // the microcontroller: answers the protocol
    Silent,           // accepts feature reports, never reports anything
    RefusesFeatures,  // every feature report fails
    Chatty,           // answers every feature report with a report that is not an acknowledgement
};

enum class VersionReply { Normal, Unanswered, Malformed };

struct McuScenario {
    std::vector<InterfaceRole> interfaces{InterfaceRole::Chatty, InterfaceRole::Mcu, InterfaceRole::Silent};
    bool foreignDevices = true;       // another product of the same vendor, and another vendor
    uint32_t telemetryBeforeAck = 3;  // telemetry reports sent between a rate command and its '$'
    std::string firmwareVersion = "0.4";
    VersionReply versionReply = VersionReply::Normal;
    bool reportIdPrefix = true;         // input reports start with the report id 0x00
    size_t telemetryPayloadBytes = 64;  // without the report id
    bool periodicTelemetry = true;      // false: after the '$' only injected reports arrive
    FirmwareBehaviour firmware;
    // Proximity reading by milliseconds since the first rate command after power-up.
    std::function<uint16_t(int64_t)> proximity;
};

// A proximity profile: worn for wornMs, then away for awayMs, repeating.
std::function<uint16_t(int64_t)> wornAwayProfile(int64_t wornMs, int64_t awayMs, uint16_t wornReading = 1800,
                                                 uint16_t awayReading = 300);

// What the MCU's firmware knows when it samples the display-status word.
struct McuFirmwareState {
    bool bypass = false;
    bool doze = false;
    uint16_t rateMs = 0;
    int64_t atNs = 0;  // the telemetry report's time, as platform::steadyNowNs()
};

struct McuCommand {
    char command = 0;
    uint16_t rateMs = 0;        // rate commands only
    size_t interfaceIndex = 0;  // index into McuScenario::interfaces
    bool accepted = false;      // the feature report succeeded
    bool applied = false;       // the firmware acted on it: accepted, and not silent
    int64_t atNs = 0;           // steady clock, as platform::steadyNowNs()
};

class SimMcu final : public HidTransport {
  public:
    explicit SimMcu(McuScenario scenario = {});
    ~SimMcu() override;

    // HidTransport
    std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) override;
    using HidTransport::setFeature;
    // Answers at once, unless its commands are stuck (setCommandsStuck).
    bool setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t timeoutMs) override;
    int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                   void* stopEvent = nullptr) override;
    void cancelIo(HidHandle handle) override;
    void close(HidHandle handle) override;
    unsigned long lastError() const override;

    // Faults. Unplugging fails every read and command on the headset's handles and hides
    // its interfaces; replugging powers the MCU up afresh (no rate, bypass and doze off).
    void unplug();
    void replug();
    void setHung(bool hung);  // the MCU accepts commands but neither answers nor streams
    void setRefuseFeatures(bool refuse);
    // The MCU's feature requests never finish: each takes its whole time-out, then fails as
    // cancelled (kOperationAborted), as a stuck device's on Windows.
    void setCommandsStuck(bool stuck);
    void setPeriodicTelemetry(bool on);
    // Delivers raw input-report bytes (as a read returns them) to every open MCU handle.
    void injectReport(std::vector<uint8_t> bytes);
    // Delivers a telemetry report in the scenario's format.
    void injectTelemetry(uint16_t proximity);
    // From `fromNs` to `toNs` (steady clock) the reader is starved: no read returns anything
    // (nor times out); the reports sent meanwhile wait in the HID buffer and come in a burst.
    void holdReads(int64_t fromNs, int64_t toNs);
    // The next read that times out finds these bytes completed while its timeout is cancelled.
    void completeAtNextTimeout(std::vector<uint8_t> bytes);

    // Headset state behind the telemetry. Without a provider, dstat is the set word with
    // bit 0 (displays on) cleared while dozed. Profiles and the provider run under the
    // model's lock: they must not call back into this object.
    void setProximity(std::function<uint16_t(int64_t)> profile);
    void setDstat(uint16_t word);
    void setDstatProvider(std::function<uint16_t(const McuFirmwareState&)> provider);
    // Called after every command the MCU interface receives, outside the model's lock.
    void setCommandListener(std::function<void(const McuCommand&)> listener);

    // Observations.
    size_t openHandleCount() const;
    size_t handlesOpenedTotal() const;
    size_t timedOutReads() const;  // reads that ended on their timeout with nothing
    std::vector<McuCommand> commands() const;
    std::vector<McuCommand> commandsTo(size_t interfaceIndex) const;
    std::vector<McuCommand> mcuCommands() const;  // those the microcontroller's interfaces received
    bool bypassOn() const;
    bool answering() const;  // plugged in, given its rate, streaming and taking commands
    bool dozed() const;
    uint16_t telemetryRateMs() const;

    static constexpr size_t kHidBufferReports = 32;  // the HID class driver's input buffer

  private:
    struct Device;
    struct Handle;
    struct Firmware;

    std::shared_ptr<Handle> findLocked(HidHandle handle) const;
    void pumpLocked(int64_t nowNs);
    void emitToMcuLocked(const std::vector<uint8_t>& payload);
    void pushLocked(Handle& handle, std::vector<uint8_t> bytes);
    std::vector<uint8_t> frameLocked(std::vector<uint8_t> payload) const;
    std::vector<uint8_t> telemetryPayloadLocked(int64_t atNs);
    void firmwareCommandLocked(const uint8_t* report, size_t size, int64_t nowNs);
    // Sets the telemetry timer's next tick and when that report really goes out.
    void scheduleLocked(int64_t timerNs);
    int64_t periodNsLocked() const;
    bool generatingLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    McuScenario scenario_;
    std::vector<Device> devices_;
    std::map<uintptr_t, std::shared_ptr<Handle>> handles_;
    uintptr_t nextHandleId_ = 1;
    size_t handlesOpened_ = 0;
    size_t timedOutReads_ = 0;
    int64_t holdFromNs_ = 0;  // the reader starved from here ...
    int64_t holdToNs_ = 0;    // ... to here (holdReads)
    std::unique_ptr<Firmware> fw_;
    std::vector<McuCommand> commands_;
    std::deque<std::vector<uint8_t>> completeOnTimeout_;
    std::function<uint16_t(const McuFirmwareState&)> dstatProvider_;
    uint16_t dstatWord_ = 0x0003;  // displays on, proximity sensing on
    std::function<void(const McuCommand&)> listener_;
};

}  // namespace corva::sim
