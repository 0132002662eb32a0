// Passes a stop from the console handler's thread (or a signal handler) to an object that
// main owns for part of the run: the presenter's own stop request.
#pragma once

#include <atomic>

namespace corva {

class StopRelay {
  public:
    // From now on raise() also sets *target.
    void attach(std::atomic<bool>* target);
    // Returns once no raise() can still write to the target attached before: the caller may
    // then destroy it. Must not be called from inside raise() (a handler on this thread).
    void detach();
    // Async-signal-safe: only lock-free atomic operations. `pause`, if given, runs between
    // reading the target and writing to it (for tests: the window detach() must cover).
    void raise(void (*pause)() = nullptr);

  private:
    std::atomic<std::atomic<bool>*> target_{nullptr};
    // raise() calls between reading target_ and writing through it.
    std::atomic<int> raising_{0};
};

}  // namespace corva
