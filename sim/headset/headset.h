// The simulated headset as one piece of hardware: its panels, worn state, doze and
// proximity bypass decide whether the displays are lit, and the microcontroller's
// telemetry reports what the displays do. Driver and MCU models feed it their inputs
// (panel power, doze and bypass commands, the headset taken off) with the time each one
// reached the headset; the displays follow after a jittered transition time, and every
// transition is kept as ground truth, with the first telemetry report that showed it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <vector>

namespace corva::sim {

struct HeadsetTiming {
    // Time from the request reaching the headset until the displays are visibly on / off.
    int64_t onMinNs = 80000000;
    int64_t onMaxNs = 120000000;
    int64_t offMinNs = 20000000;
    int64_t offMaxNs = 40000000;
    uint32_t seed = 0x7e55;  // the jitter repeats from run to run
    uint16_t wornReading = 1800;
    uint16_t awayReading = 300;
};

enum class HeadsetInput { PanelPower, Doze, Bypass, Wear, McuPowerUp };

const char* headsetInputName(HeadsetInput input);

// One change of the displays (bit 0 of the display-status word).
struct DisplaysTransition {
    bool on = false;
    HeadsetInput cause = HeadsetInput::PanelPower;
    int64_t requestNs = 0;      // the input reached the headset
    int64_t visibleNs = 0;      // the displays changed
    int64_t firstReportNs = 0;  // the first telemetry report showing the change; 0: none (yet)
    // The program's pending wake-request stamp when the input arrived (0: none). Only the
    // first displays-on transition after a stamp carries it.
    int64_t wakeStampNs = 0;
};

class Headset {
  public:
    static constexpr size_t kMaxTransitions = 4096;  // oldest dropped beyond this
    static constexpr uint16_t kDisplaysOn = 0x0001;
    static constexpr uint16_t kProximitySensing = 0x0002;
    static constexpr uint16_t kCompression = 0x0008;

    explicit Headset(HeadsetTiming timing = {}, bool worn = true);

    // Inputs, each with the steady-clock time it reached the headset. `compressedMode`: the
    // panels were woken with a compression-forced mode (bit 3 while the displays are on).
    void panelPower(bool on, bool compressedMode, int64_t atNs);
    void doze(bool on, int64_t atNs);
    void bypass(bool on, int64_t atNs);
    void setWorn(bool worn, int64_t atNs);
    // The MCU powers up afresh (replugged): doze and bypass off.
    void mcuPoweredUp(int64_t atNs);

    // Outputs. The display-status word the MCU reports at `atNs` (reports are asked for in
    // time order); the first report showing a transition is recorded.
    uint16_t telemetryDstat(int64_t atNs);
    uint16_t dstatAt(int64_t atNs) const;
    bool displaysOnAt(int64_t atNs) const;
    uint16_t proximityReading(int64_t msSinceStart) const;
    // Taken off without the bypass: the headset blanks its panels, no vertical blank.
    bool blankedByWear() const;

    std::vector<DisplaysTransition> transitions() const;

    // Reads the program's pending wake-request stamp (called under the headset's lock).
    void setWakeStampSource(std::function<int64_t()> source);
    // Told when blankedByWear() changes, on the thread of the input, outside the lock.
    void setBlankListener(std::function<void(bool blanked)> listener);

  private:
    bool wantedLocked() const;
    bool visibleLocked(int64_t atNs) const;
    uint16_t dstatLocked(int64_t atNs) const;
    // Re-decides the displays after an input; returns whether the wear blanking changed.
    bool inputLocked(HeadsetInput cause, int64_t atNs, bool blankedBefore);
    bool blankedLocked() const { return !worn_ && !bypass_; }
    int64_t jitterLocked(bool on);
    template <typename Change>
    void apply(HeadsetInput cause, int64_t atNs, Change change);

    mutable std::mutex mutex_;
    HeadsetTiming timing_;
    std::minstd_rand random_;
    bool panelOn_ = false;
    bool compressed_ = false;
    bool dozed_ = false;
    bool bypass_ = false;
    bool worn_ = true;
    std::deque<DisplaysTransition> transitions_;
    int64_t lastStampUsed_ = 0;
    std::function<int64_t()> wakeStamp_;
    std::function<void(bool)> blankListener_;
};

}  // namespace corva::sim
