// A bounded ring of trace records that many threads fill and one thread drains, without
// a lock and without allocating after construction. A push into a full ring fails at
// once (the caller counts it as dropped): a producer never waits for the consumer.
#pragma once

#include "trace/trace_record.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace corva::trace {

class Ring {
  public:
    // capacity is rounded up to a power of two.
    explicit Ring(size_t capacity);

    // Any thread. False when the ring is full.
    bool tryPush(const Record& record);
    // The one consumer thread. False when the ring is empty.
    bool tryPop(Record& record);
    size_t capacity() const { return mask_ + 1; }

  private:
    // Each cell's sequence number says whose turn it is: equal to the position, a producer
    // may fill it; one past, the consumer may take it.
    struct Cell {
        std::atomic<uint64_t> sequence{0};
        Record record;
    };

    std::unique_ptr<Cell[]> cells_;
    size_t mask_;
    std::atomic<uint64_t> pushPosition_{0};
    uint64_t popPosition_ = 0;
};

}  // namespace corva::trace
