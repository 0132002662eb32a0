#include "trace/trace_writer.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/shortened_text.h"
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

void reportFailure(const char* path, const char* why) {
    // A path of any length still gives a whole line that ends with what happens next.
    lines::print(lines::kTraceUnwritable, lines::ShortenedText(path).c_str(), why);
}

Writer::Writer(const std::string& path, size_t capacity)
    : path_(path), ring_(capacity), buffer_(kBufferBytes) {
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
    flush(true);
    if (std::fclose(file_) != 0 && !failed_) reportFailure(path_.c_str(), std::strerror(errno));
    file_ = nullptr;
}

void Writer::run() {
    while (!stopping_.load()) {
        platform::sleepMs(kDrainIntervalMs);
        drain();
        if (used_ > 0) flush(true);
    }
}

void Writer::flush(bool toDisk) {
    const size_t used = used_;
    used_ = 0;
    if (failed_) return;
    if (std::fwrite(buffer_.data(), 1, used, file_) == used && (!toDisk || std::fflush(file_) == 0)) return;
    failed_ = true;
    reportFailure(path_.c_str(), std::strerror(errno));
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
    if (used_ + length > buffer_.size()) flush(false);
    std::memcpy(buffer_.data() + used_, text, length);
    used_ += length;
}

}  // namespace corva::trace
