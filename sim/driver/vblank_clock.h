// The simulated display's timing: the ground-truth record of presents and vertical blanks
// (preallocated rings, so neither a present nor a vertical blank allocates), and the clock
// thread that produces the vertical blanks of the set mode on the steady clock.
#pragma once

#include "platform/platform.h"
#include "sim/driver/sim_display.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace corva::sim::detail {

class DisplayTimeline {
  public:
    static constexpr size_t kCapacity = size_t(1) << 16;

    // Returns the present's sequence number.
    uint64_t recordPresent(int64_t timeNs, uint32_t surface, NvStatus status);
    // The panel scans out the latest successful present.
    void recordVblank(int64_t timeNs);
    void clear();
    Timeline snapshot() const;
    uint64_t presentCount() const;
    uint64_t vblankCount() const;

  private:
    mutable std::mutex mutex_;
    std::array<PresentRecord, kCapacity> presents_{};
    std::array<VblankRecord, kCapacity> vblanks_{};
    uint64_t presentCount_ = 0;
    uint64_t vblankCount_ = 0;
    uint64_t latestSeq_ = 0;  // latest successful present
    uint32_t latestSurface_ = 0;
    uint64_t scannedSeq_ = 0;  // what the last vertical blank scanned out
};

class VblankClock {
  public:
    explicit VblankClock(DisplayTimeline& timeline) : timeline_(timeline) {}
    ~VblankClock() { stop(); }
    VblankClock(const VblankClock&) = delete;
    VblankClock& operator=(const VblankClock&) = delete;

    // (Re)starts the vertical blanks: the first one period from now. Each is recorded and
    // signals `waitable` (if any) unless the faults say otherwise.
    // Every `missEvery`-th beat (0: none) never comes: not recorded, nothing signalled.
    void start(int64_t periodNs, platform::OsHandle waitable, uint32_t missEvery = 0);
    // Stops and joins the clock thread; no vertical blank happens after it returns.
    void stop();
    // A later start() signals this one instead (the waitable is handed out after the mode).
    void setWaitable(platform::OsHandle waitable);

    std::atomic<bool> lost{false};  // no vertical blank reaches the panel
    std::atomic<bool> dead{false};  // vertical blanks go on, the waitable is not signalled

  private:
    void run(int64_t periodNs, uint32_t missEvery);

    DisplayTimeline& timeline_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<platform::OsHandle> waitable_{nullptr};
};

}  // namespace corva::sim::detail
