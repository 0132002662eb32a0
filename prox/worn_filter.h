// Worn/away from the mean of the last 8 proximity readings, with a hysteresis band.
#pragma once

#include <array>
#include <cstdint>

namespace corva::prox {

// The worn state after a mean: it turns false at or below threshold - hysteresis (only
// when that bound exists), true at or above threshold + hysteresis, and holds in between.
bool nextWornState(bool worn, uint32_t mean, uint16_t threshold, uint16_t hysteresis);

class WornFilter {
  public:
    // Starts the averaging afresh after a (re)connection: the next 7 readings decide nothing.
    void restart() {
        next_ = 0;
        count_ = 0;
    }
    // Adds one reading and returns the worn state it leads to.
    bool add(uint16_t reading, bool worn, uint16_t threshold, uint16_t hysteresis);
    uint32_t readingsSinceRestart() const { return count_; }

  private:
    std::array<uint16_t, 8> ring_{};
    uint32_t next_ = 0;
    uint32_t count_ = 0;
};

}  // namespace corva::prox
