#include "prox/worn_filter.h"

namespace corva::prox {

bool nextWornState(bool worn, uint32_t mean, uint16_t threshold, uint16_t hysteresis) {
    const uint32_t high = uint32_t(threshold) + hysteresis;
    if (worn) return !(threshold >= hysteresis && mean <= uint32_t(threshold - hysteresis));
    return mean >= high;
}

bool WornFilter::add(uint16_t reading, bool worn, uint16_t threshold, uint16_t hysteresis) {
    ring_[next_] = reading;
    next_ = (next_ + 1) % ring_.size();
    if (count_ < UINT32_MAX) ++count_;
    if (count_ < ring_.size()) return worn;
    uint32_t sum = 0;
    for (uint16_t value : ring_) sum += value;
    return nextWornState(worn, sum >> 3, threshold, hysteresis);
}

}  // namespace corva::prox
