#include "sim/headset/headset.h"

#include <algorithm>

namespace corva::sim {

const char* headsetInputName(HeadsetInput input) {
    switch (input) {
        case HeadsetInput::PanelPower:
            return "panel-power";
        case HeadsetInput::Doze:
            return "doze";
        case HeadsetInput::Bypass:
            return "bypass";
        case HeadsetInput::Wear:
            return "wear";
        case HeadsetInput::McuPowerUp:
            return "mcu-power-up";
    }
    return "?";
}

Headset::Headset(HeadsetTiming timing, bool worn) : timing_(timing), random_(timing.seed), worn_(worn) {}

template <typename Change>
void Headset::apply(HeadsetInput cause, int64_t atNs, Change change) {
    std::function<void(bool)> listener;
    bool blanked = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool blankedBefore = blankedLocked();
        change();
        if (inputLocked(cause, atNs, blankedBefore)) {
            listener = blankListener_;
            blanked = blankedLocked();
        }
    }
    if (listener) listener(blanked);
}

void Headset::panelPower(bool on, bool compressedMode, int64_t atNs) {
    apply(HeadsetInput::PanelPower, atNs, [&] {
        panelOn_ = on;
        if (on) compressed_ = compressedMode;  // the mode the panels were woken with
    });
}

void Headset::doze(bool on, int64_t atNs) {
    apply(HeadsetInput::Doze, atNs, [&] { dozed_ = on; });
}

void Headset::bypass(bool on, int64_t atNs) {
    apply(HeadsetInput::Bypass, atNs, [&] { bypass_ = on; });
}

void Headset::setWorn(bool worn, int64_t atNs) {
    apply(HeadsetInput::Wear, atNs, [&] { worn_ = worn; });
}

void Headset::mcuPoweredUp(int64_t atNs) {
    apply(HeadsetInput::McuPowerUp, atNs, [&] {
        dozed_ = false;
        bypass_ = false;
    });
}

bool Headset::wantedLocked() const {
    return panelOn_ && !dozed_ && !blankedLocked();
}

bool Headset::visibleLocked(int64_t atNs) const {
    for (auto it = transitions_.rbegin(); it != transitions_.rend(); ++it)
        if (it->visibleNs <= atNs) return it->on;
    return false;  // dark until the first transition
}

int64_t Headset::jitterLocked(bool on) {
    const int64_t lo = on ? timing_.onMinNs : timing_.offMinNs;
    const int64_t hi = std::max(lo, on ? timing_.onMaxNs : timing_.offMaxNs);
    return std::uniform_int_distribution<int64_t>(lo, hi)(random_);
}

bool Headset::inputLocked(HeadsetInput cause, int64_t atNs, bool blankedBefore) {
    const bool wanted = wantedLocked();
    const bool target = transitions_.empty() ? false : transitions_.back().on;
    if (wanted != target) {
        if (!transitions_.empty() && transitions_.back().visibleNs > atNs) {
            // Still on its way: the displays never got there.
            transitions_.pop_back();
        } else {
            DisplaysTransition t;
            t.on = wanted;
            t.cause = cause;
            t.requestNs = atNs;
            t.visibleNs = atNs + jitterLocked(wanted);
            const int64_t stamp = wakeStamp_ ? wakeStamp_() : 0;
            if (wanted && stamp != 0 && stamp != lastStampUsed_) {
                t.wakeStampNs = stamp;
                lastStampUsed_ = stamp;
            }
            transitions_.push_back(t);
            if (transitions_.size() > kMaxTransitions) transitions_.pop_front();
        }
    }
    return blankedBefore != blankedLocked();
}

uint16_t Headset::dstatLocked(int64_t atNs) const {
    uint16_t word = kProximitySensing;
    if (visibleLocked(atNs)) word |= compressed_ ? kDisplaysOn | kCompression : kDisplaysOn;
    return word;
}

uint16_t Headset::dstatAt(int64_t atNs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dstatLocked(atNs);
}

uint16_t Headset::telemetryDstat(int64_t atNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint16_t word = dstatLocked(atNs);
    // The transition this report shows, if it is the first to show it.
    for (auto it = transitions_.rbegin(); it != transitions_.rend(); ++it) {
        if (it->visibleNs > atNs) continue;
        if (it->firstReportNs == 0 && it->on == ((word & kDisplaysOn) != 0)) it->firstReportNs = atNs;
        break;
    }
    return word;
}

bool Headset::displaysOnAt(int64_t atNs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return visibleLocked(atNs);
}

uint16_t Headset::proximityReading(int64_t msSinceStart) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint16_t noise = uint16_t(msSinceStart / 50 % 7 * 3);  // a sensor is never quite still
    return uint16_t((worn_ ? timing_.wornReading : timing_.awayReading) + noise);
}

bool Headset::blankedByWear() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blankedLocked();
}

std::vector<DisplaysTransition> Headset::transitions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {transitions_.begin(), transitions_.end()};
}

void Headset::setWakeStampSource(std::function<int64_t()> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeStamp_ = std::move(source);
}

void Headset::setBlankListener(std::function<void(bool)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    blankListener_ = std::move(listener);
}

}  // namespace corva::sim
