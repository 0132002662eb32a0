#include "trace/trace_writer.h"

#include "platform/output_file.h"
#include "platform/platform.h"
#include "trace/trace_format.h"

#include <chrono>
#include <cerrno>
#include <cstring>

namespace corva::trace {

namespace {
constexpr uint32_t kDrainIntervalMs = 20;
constexpr size_t kBufferBytes = 256 * 1024;
constexpr size_t kLongestLine = 256;
}  // namespace

Writer::Writer(const std::string& path, size_t capacity) : ring_(capacity), buffer_(kBufferBytes) {
    file_ = platform::openRegularFileForWriting(path.c_str(), error_);
    if (file_ == nullptr) return;
    char line[kLongestLine];
    append(line, formatHeader(line, sizeof line));
    const platform::LocalTime local = platform::localTimeNow();
    const int64_t steady = platform::steadyNowNs();
    const int64_t unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    const uint32_t ms = ((local.hour * 60 + local.minute) * 60 + local.second) * 1000 + local.millisecond;
    append(line, formatClock(line, sizeof line, steady, ms, unixMs));
    if (std::fwrite(buffer_.data(), 1, used_, file_) != used_ || std::fflush(file_) != 0) {
        error_ = std::strerror(errno);
        std::fclose(file_);
        file_ = nullptr;
        return;
    }
    used_ = 0;
    thread_ = std::thread([this] { run(); });
}

Writer::~Writer() {
    close();
}

void Writer::close() {
    if (file_ == nullptr) return;
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
    drain();
    char line[kLongestLine];
    append(line, formatCount(line, sizeof line, kEndLine, platform::steadyNowNs(), dropped()));
    std::fwrite(buffer_.data(), 1, used_, file_);
    used_ = 0;
    std::fclose(file_);
    file_ = nullptr;
}

void Writer::run() {
    while (!stopping_.load()) {
        platform::sleepMs(kDrainIntervalMs);
        drain();
        if (used_ > 0) {
            std::fwrite(buffer_.data(), 1, used_, file_);
            std::fflush(file_);
            used_ = 0;
        }
    }
}

void Writer::drain() {
    char line[kLongestLine];
    Record record;
    while (ring_.tryPop(record)) append(line, formatRecord(line, sizeof line, record));
    const uint64_t dropped = this->dropped();
    if (dropped != droppedWritten_) {
        append(line, formatCount(line, sizeof line, kDroppedLine, platform::steadyNowNs(), dropped));
        droppedWritten_ = dropped;
    }
}

void Writer::append(const char* text, size_t length) {
    if (used_ + length > buffer_.size()) {
        std::fwrite(buffer_.data(), 1, used_, file_);
        used_ = 0;
    }
    std::memcpy(buffer_.data() + used_, text, length);
    used_ += length;
}

}  // namespace corva::trace
