// Every call the simulated driver receives, with its arguments, for tests to inspect.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace corva::sim {

class CallLog {
  public:
    static CallLog& instance() {
        static CallLog log;
        return log;
    }
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace corva::sim
