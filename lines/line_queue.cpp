#include "lines/line_queue.h"

#include <cstring>

namespace corva::lines {

LineQueue::LineQueue() {
    for (size_t i = 0; i < kSlots; ++i) slots_[i].sequence.store(i, std::memory_order_relaxed);
}

// A bounded multi-producer queue of sequenced slots: a slot whose sequence equals the
// claimed position is free; after the copy its sequence says "filled".
bool LineQueue::push(Stream stream, std::string_view line, bool critical) {
    const size_t limit = critical ? kSlots : kSlots - kCriticalReserve;
    size_t position = tail_.load(std::memory_order_relaxed);
    for (;;) {
        const size_t head = head_.load(std::memory_order_acquire);
        if (position < head) {  // a stale position: others have claimed and emptied it since
            position = tail_.load(std::memory_order_relaxed);
            continue;
        }
        if (position - head >= limit) return false;
        Slot& slot = slots_[position & (kSlots - 1)];
        const size_t sequence = slot.sequence.load(std::memory_order_acquire);
        if (sequence == position) {
            if (tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                const size_t size = line.size() < kLineBytes ? line.size() : kLineBytes;
                std::memcpy(slot.text, line.data(), size);
                // A line cut to the slot's size still ends the line.
                if (size > 0 && size < line.size()) slot.text[size - 1] = '\n';
                slot.size = static_cast<uint16_t>(size);
                slot.stream = stream;
                slot.sequence.store(position + 1, std::memory_order_release);
                return true;
            }
        } else if (sequence < position) {
            return false;  // still being taken out: full
        } else {
            position = tail_.load(std::memory_order_relaxed);
        }
    }
}

}  // namespace corva::lines
