// Every call the simulated driver receives, with its arguments and status, for tests to
// inspect: kept in memory and, when asked, appended to a file a line a call. The line's
// fields are written and read here only:
//   NAME                       a call without arguments or status (driver settings)
//   NAME(ARGUMENTS)            ARGUMENTS: "key=value" pairs separated by ", "
//   NAME(ARGUMENTS) = 0xSTATUS the status the call returned, hexadecimal
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::sim {

struct CallRecord {
    std::string name;
    std::optional<std::string> arguments;
    std::optional<uint32_t> status;

    // The value of "key=value" among the arguments; empty when the call has no such key.
    std::string_view argument(std::string_view key) const;
};

std::string formatCall(const CallRecord& call);
// False for a line this format does not have (no name, unclosed arguments, a status that is
// not 0x and hexadecimal digits, anything after it).
bool parseCall(std::string_view line, CallRecord& call);
// Every line of a call-log file; false, with the line in `error`, on one that is not a call.
bool readCallLogFile(const std::string& path, std::vector<CallRecord>& calls, std::string& error);

class CallLog {
  public:
    static CallLog& instance() {
        static CallLog log;
        return log;
    }
    void record(const CallRecord& call) {
        std::string line = formatCall(call);
        std::lock_guard<std::mutex> lock(mutex_);
        if (sink_ != nullptr) {  // a line at a time, at once: the process may be ended any moment
            std::fprintf(sink_, "%s\n", line.c_str());
            std::fflush(sink_);
        }
        calls_.push_back(std::move(line));
    }
    // From now on every call is also appended to this file (kept open for the process's life).
    void appendTo(std::FILE* file) {
        std::lock_guard<std::mutex> lock(mutex_);
        sink_ = file;
    }
    // Each call's line, as the file has it.
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<CallRecord> records() const {
        std::vector<CallRecord> records;
        for (const std::string& line : calls()) parseCall(line, records.emplace_back());
        return records;
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
