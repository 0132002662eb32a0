#include "app/stop_relay.h"

#include "platform/platform.h"

namespace corva {

void StopRelay::attach(std::atomic<bool>* target) {
    target_.store(target);
}

void StopRelay::detach() {
    target_.store(nullptr);
    // A raise() that read the old target before the store above has announced itself first
    // (sequentially consistent order), so it is seen here until it has written.
    while (raising_.load() != 0) platform::cpuPause();
}

void StopRelay::raise(void (*pause)()) {
    raising_.fetch_add(1);
    if (std::atomic<bool>* target = target_.load()) {
        if (pause != nullptr) pause();
        target->exchange(true);
    }
    raising_.fetch_sub(1);
}

}  // namespace corva
