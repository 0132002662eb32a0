#include "sim/driver/vblank_clock.h"

#include <chrono>

namespace corva::sim::detail {

uint64_t DisplayTimeline::recordPresent(int64_t timeNs, uint32_t surface, NvStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t seq = ++presentCount_;
    presents_[(seq - 1) % kCapacity] = PresentRecord{seq, timeNs, surface, status, -1};
    if (status == kNvOk) {
        latestSeq_ = seq;
        latestSurface_ = surface;
    }
    return seq;
}

void DisplayTimeline::recordVblank(int64_t timeNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t index = vblankCount_++;
    const bool newFrame = latestSeq_ != 0 && latestSeq_ != scannedSeq_;
    vblanks_[index % kCapacity] = VblankRecord{index, timeNs, latestSeq_, latestSurface_, newFrame};
    if (newFrame && presentCount_ - latestSeq_ < kCapacity) {
        presents_[(latestSeq_ - 1) % kCapacity].shownAtVblank = static_cast<int64_t>(index);
    }
    scannedSeq_ = latestSeq_;
}

void DisplayTimeline::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    presentCount_ = vblankCount_ = 0;
    latestSeq_ = scannedSeq_ = 0;
    latestSurface_ = 0;
}

Timeline DisplayTimeline::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Timeline result;
    const uint64_t presents = presentCount_ < kCapacity ? presentCount_ : kCapacity;
    result.presents.reserve(presents);
    for (uint64_t seq = presentCount_ - presents + 1; seq <= presentCount_; ++seq)
        result.presents.push_back(presents_[(seq - 1) % kCapacity]);
    const uint64_t vblanks = vblankCount_ < kCapacity ? vblankCount_ : kCapacity;
    result.vblanks.reserve(vblanks);
    for (uint64_t index = vblankCount_ - vblanks; index < vblankCount_; ++index)
        result.vblanks.push_back(vblanks_[index % kCapacity]);
    return result;
}

uint64_t DisplayTimeline::presentCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presentCount_;
}

uint64_t DisplayTimeline::vblankCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vblankCount_;
}

void VblankClock::start(int64_t periodNs, platform::OsHandle waitable, uint32_t missEvery) {
    stop();
    waitable_.store(waitable);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this, periodNs, missEvery] { run(periodNs, missEvery); });
}

void VblankClock::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void VblankClock::setWaitable(platform::OsHandle waitable) {
    waitable_.store(waitable);
}

void VblankClock::run(int64_t periodNs, uint32_t missEvery) {
    const int64_t phase = platform::steadyNowNs();
    int64_t beat = 1;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const int64_t due = phase + beat * periodNs;
        const int64_t now = platform::steadyNowNs();
        if (now < due) {
            wake_.wait_for(lock, std::chrono::nanoseconds(due - now));
            continue;  // woken early, by a stop or spuriously: look again
        }
        const int64_t at = platform::steadyNowNs();
        const bool missing = missEvery != 0 && beat % missEvery == 0;
        if (!lost.load() && !missing) {
            timeline_.recordVblank(at);
            platform::OsHandle waitable = waitable_.load();
            if (waitable != nullptr && !dead.load()) platform::setEvent(waitable);
        }
        // A stalled clock thread skips the vertical blanks it slept through, as a panel's
        // own would have come and gone unseen.
        beat = (at - phase) / periodNs + 1;
    }
}

}  // namespace corva::sim::detail
