// Every call the simulated driver receives, with its arguments, for tests to inspect.
#pragma once

#include <cstdio>
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
        if (sink_ != nullptr) {  // a line at a time, at once: the process may be ended any moment
            std::fprintf(sink_, "%s\n", call.c_str());
            std::fflush(sink_);
        }
        calls_.push_back(std::move(call));
    }
    // From now on every call is also appended to this file (kept open for the process's life).
    void appendTo(std::FILE* file) {
        std::lock_guard<std::mutex> lock(mutex_);
        sink_ = file;
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
    std::FILE* sink_ = nullptr;
};

}  // namespace corva::sim
