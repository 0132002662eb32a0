// The trace file and the thread that writes it: producers push records into a preallocated
// ring; every 20 ms the writer thread takes what is there, formats it and appends it to the
// file, whole lines only, so a file cut by a kill ends on its last whole record.
#pragma once

#include "trace/trace_ring.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace corva::trace {

// Says on standard error that the trace file cannot be written, and why: the run goes on
// without a trace.
void reportFailure(const char* path, const char* why);

class Writer {
  public:
    // Opens (truncates) the file and writes its header and clock lines; error() then says
    // why it could not. Only a regular file (or the null device) is taken: the writes and
    // the close then never wait on a reader.
    Writer(const std::string& path, size_t capacity);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool ok() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }

    // Any thread; never blocks and never allocates. A record that finds the ring full is
    // dropped and counted.
    void push(const Record& record) {
        if (!ring_.tryPush(record)) dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    // Writes what is left and the end line, and closes the file. Every producer must have
    // stopped pushing.
    void close();
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    void run();
    // Formats everything in the ring into one buffer and writes it in one go.
    void drain();
    void append(const char* text, size_t length);
    // Writes the buffer out; on the first failure (a full disk) says so and stops writing:
    // the run goes on without a trace, whose file has no end record.
    void flush(bool toDisk);

    std::string path_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::string error_;
    Ring ring_;
    std::atomic<uint64_t> dropped_{0};
    uint64_t droppedWritten_ = 0;
    std::vector<char> buffer_;
    size_t used_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace corva::trace
