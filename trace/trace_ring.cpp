#include "trace/trace_ring.h"

namespace corva::trace {

namespace {
size_t powerOfTwoAtLeast(size_t n) {
    size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}
}  // namespace

Ring::Ring(size_t capacity)
    : cells_(new Cell[powerOfTwoAtLeast(capacity < 2 ? 2 : capacity)]),
      mask_(powerOfTwoAtLeast(capacity < 2 ? 2 : capacity) - 1) {
    for (size_t i = 0; i <= mask_; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
}

bool Ring::tryPush(const Record& record) {
    uint64_t position = pushPosition_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[position & mask_];
        const uint64_t sequence = cell.sequence.load(std::memory_order_acquire);
        const int64_t turn = static_cast<int64_t>(sequence - position);
        if (turn == 0) {
            if (pushPosition_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                cell.record = record;
                cell.sequence.store(position + 1, std::memory_order_release);
                return true;
            }
        } else if (turn < 0) {
            return false;  // the consumer has not taken this cell's previous record yet
        } else {
            position = pushPosition_.load(std::memory_order_relaxed);
        }
    }
}

bool Ring::tryPop(Record& record) {
    Cell& cell = cells_[popPosition_ & mask_];
    const uint64_t sequence = cell.sequence.load(std::memory_order_acquire);
    if (static_cast<int64_t>(sequence - (popPosition_ + 1)) < 0) return false;
    record = cell.record;
    cell.sequence.store(popPosition_ + mask_ + 1, std::memory_order_release);
    ++popPosition_;
    return true;
}

}  // namespace corva::trace
