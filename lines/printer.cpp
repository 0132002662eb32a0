#include "lines/printer.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "lines/judged_lines.h"
#include "lines/line_queue.h"
#include "lines/printed_lines.h"
#include "platform/console_write.h"
#include "platform/line_output.h"
#include "platform/platform.h"
#include "platform/std_streams.h"

namespace corva::lines {
namespace {

constexpr uint32_t kIdleWaitMs = 5;  // time-critical threads do not signal: picked up within this

LineQueue gQueue;
// Lines a run is judged by that a time-critical thread printed while the queue was full:
// written out once every line queued before them is, and later lines wait behind them.
LineQueue gParked;
std::atomic<bool> gQueueing{false};
std::atomic<int> gPushing{0};  // threads between deciding to queue and having queued
std::atomic<bool> gStopping{false};
std::atomic<unsigned long long> gDropped{0};
platform::OsHandle gWake = nullptr;
std::thread gWriter;
// Held by direct writes and while the queue is emptied at stop: a line printed then comes
// after the queued ones.
std::mutex gDirect;
thread_local bool tCritical = false;

// Standard output's fate, for the stop when its reader goes and the note at the end.
std::atomic<void (*)()> gReaderGoneHandler{nullptr};
std::atomic<bool> gReaderGone{false};
std::atomic<unsigned long long> gOutLines{0};
std::atomic<unsigned long long> gOutLost{0};
std::atomic<int> gOutError{0};  // errno of the first failed write other than a gone reader

void writeText(platform::StdStream stream, const char* text) {
    platform::writeWhole(stream, text, std::strlen(text));
}

void writeLine(Stream stream, std::string_view line) {
    if (stream == Stream::Err) {
        // Standard error that fails is only lost: it never stops the run.
        platform::writeWhole(platform::StdStream::Err, line.data(), line.size());
        return;
    }
    gOutLines.fetch_add(1);
    int error = 0;
    const platform::WriteResult result =
        platform::writeWhole(platform::StdStream::Out, line.data(), line.size(), &error);
    if (result == platform::WriteResult::Written) return;
    gOutLost.fetch_add(1);
    if (result == platform::WriteResult::Failed) {
        int none = 0;
        gOutError.compare_exchange_strong(none, error);
    } else if (!gReaderGone.exchange(true)) {
        // Written here, not queued: this may be the output thread itself.
        writeText(platform::StdStream::Err, kStdoutReaderGone.format());
        if (void (*handler)() = gReaderGoneHandler.load()) handler();
    }
}

void reportDropped() {
    if (const unsigned long long dropped = gDropped.exchange(0); dropped > 0) {
        char text[LineQueue::kLineBytes];
        const int n = std::snprintf(text, sizeof text, kLinesDropped.format(), dropped);
        if (n > 0) writeLine(kLinesDropped.stream(), std::string_view(text, static_cast<size_t>(n)));
    }
}

void writerLoop() {
    for (;;) {
        while (gQueue.pop(writeLine)) {
        }
        // A parked line came after every line the queue held when it was parked.
        while (gQueue.empty() && gParked.pop(writeLine)) {
        }
        reportDropped();
        const bool idle = gQueue.empty() && gParked.empty();
        if (gStopping.load() && idle) return;
        if (idle) platform::waitFor(gWake, kIdleWaitMs);
    }
}

// True when the line was queued (or dropped by a time-critical thread); false: write it.
bool queue(Stream stream, std::string_view line, bool keep) {
    gPushing.fetch_add(1);
    const bool queueing = gQueueing.load();
    if (queueing) {
        if (tCritical) {
            // Once a line is parked, this thread's later ones go behind it, or are dropped.
            bool queued = gParked.empty() && gQueue.push(stream, line, true);
            if (!queued && keep) queued = gParked.push(stream, line, true);
            if (!queued) gDropped.fetch_add(1);
        } else {
            while (!gParked.empty() || !gQueue.push(stream, line, false)) platform::sleepMs(1);
            platform::setEvent(gWake);
        }
    }
    gPushing.fetch_sub(1);
    return queueing;
}

// `keep`: the run is judged by the line (see queue()).
void printText(Stream stream, const char* text, size_t size, bool keep) {
    const std::string_view line(text, size);
    if (queue(stream, line, keep)) return;
    std::lock_guard<std::mutex> lock(gDirect);
    writeLine(stream, line);
}

// Platform code's lines take the same way (platform/line_output.h); none is repeatable.
void printPlatformLine(Stream stream, const char* text, size_t size) {
    printText(stream, text, size, true);
}
[[maybe_unused]] const bool gPlatformLinesPrintedHere = (platform::setLineOutput(printPlatformLine), true);

}  // namespace

void printFormatted(Stream stream, const char* format, ...) {
    char text[LineQueue::kLineBytes];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    size_t size = static_cast<size_t>(n);
    if (size >= sizeof text) {  // cut, still a line
        size = sizeof text - 1;
        text[size - 1] = '\n';
    }
    printText(stream, text, size, !droppable(format));
}

void onStandardOutputGone(void (*handler)()) {
    gReaderGoneHandler.store(handler);
}

void reportLostOutput() {
    const bool closed = platform::wasClosedAtStart(platform::StdStream::Out);
    const int error = gOutError.load();
    if (!closed && error == 0) return;  // all written, or only a gone reader (said at once)
    const unsigned long long lines = gOutLines.load();
    const unsigned long long lost = closed ? lines : gOutLost.load();
    char text[LineQueue::kLineBytes];
    const int n = std::snprintf(text, sizeof text, kOutputLost.format(),
                                closed ? kClosedAtStart : std::strerror(error), lost, lines);
    std::lock_guard<std::mutex> lock(gDirect);
    if (n > 0) writeLine(kOutputLost.stream(), std::string_view(text, static_cast<size_t>(n)));
}

CriticalThread::CriticalThread() : previous_(tCritical) {
    tCritical = true;
}

CriticalThread::~CriticalThread() {
    tCritical = previous_;
}

OutputThread::OutputThread() {
    if (gQueueing.load() || gWriter.joinable()) return;  // one at a time
    if (gWake == nullptr) gWake = platform::createEvent(false, false);
    if (gWake == nullptr) return;  // lines are then written directly
    gStopping.store(false);
    gWriter = std::thread(writerLoop);
    gQueueing.store(true);
    running_ = true;
}

OutputThread::~OutputThread() {
    stop();
}

void OutputThread::stop() {
    if (!running_) return;
    running_ = false;
    std::lock_guard<std::mutex> lock(gDirect);
    gQueueing.store(false);
    // Lines being queued right now are still waited for.
    while (gPushing.load() != 0) std::this_thread::yield();
    gStopping.store(true);
    platform::setEvent(gWake);
    gWriter.join();
}

}  // namespace corva::lines
