// A bounded queue of whole lines between the threads that print and the one thread that
// writes them out. Its slots are allocated once; a push copies the line into a slot and
// takes no lock, so the present loop and the proximity reader can print without waiting.
// Lines leave in the order their pushes claimed slots: the order things happened.
//
// The last kCriticalReserve slots are kept for time-critical threads: other threads see
// the queue full earlier (and wait), so a stalled console fills the queue with their lines
// first and the time-critical ones still find room.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lines/line_format.h"

namespace corva::lines {

class LineQueue {
  public:
    static constexpr size_t kSlots = 256;  // a power of two
    static constexpr size_t kCriticalReserve = 64;
    static constexpr size_t kLineBytes = 512;

    LineQueue();
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // False when the queue is full for this kind of thread; the line is then not queued.
    bool push(Stream stream, std::string_view line, bool critical);

    // One consumer only. Calls write(stream, line) for the oldest line if it is complete;
    // false when there is none yet.
    template <typename Write>
    bool pop(Write&& write) {
        const size_t position = head_.load(std::memory_order_relaxed);
        Slot& slot = slots_[position & (kSlots - 1)];
        if (slot.sequence.load(std::memory_order_acquire) != position + 1) return false;
        write(slot.stream, std::string_view(slot.text, slot.size));
        slot.sequence.store(position + kSlots, std::memory_order_release);
        head_.store(position + 1, std::memory_order_release);
        return true;
    }

    // No line claimed and not yet taken out (lines still being copied in count as queued).
    bool empty() const {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

  private:
    struct Slot {
        std::atomic<size_t> sequence{0};
        Stream stream = Stream::Out;
        uint16_t size = 0;
        char text[kLineBytes];
    };
    std::array<Slot, kSlots> slots_;
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) std::atomic<size_t> head_{0};
};

}  // namespace corva::lines
