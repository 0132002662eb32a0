#include "lines/printer.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#include "lines/line_queue.h"
#include "lines/printed_lines.h"
#include "platform/console_write.h"
#include "platform/line_output.h"
#include "platform/platform.h"

namespace corva::lines {
namespace {

constexpr uint32_t kIdleWaitMs = 5;  // time-critical threads do not signal: picked up within this

LineQueue gQueue;
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

void writeLine(Stream stream, std::string_view line) {
    platform::writeWhole(stream == Stream::Err ? platform::StdStream::Err : platform::StdStream::Out,
                         line.data(), line.size());
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
        reportDropped();
        if (gStopping.load() && gQueue.empty()) return;
        platform::waitFor(gWake, kIdleWaitMs);
    }
}

// True when the line was queued (or dropped by a time-critical thread); false: write it.
bool queue(Stream stream, std::string_view line) {
    gPushing.fetch_add(1);
    const bool queueing = gQueueing.load();
    if (queueing) {
        if (tCritical) {
            if (!gQueue.push(stream, line, true)) gDropped.fetch_add(1);
        } else {
            while (!gQueue.push(stream, line, false)) platform::sleepMs(1);
            platform::setEvent(gWake);
        }
    }
    gPushing.fetch_sub(1);
    return queueing;
}

void printText(Stream stream, const char* text, size_t size) {
    const std::string_view line(text, size);
    if (queue(stream, line)) return;
    std::lock_guard<std::mutex> lock(gDirect);
    writeLine(stream, line);
}

// Platform code's lines take the same way (platform/line_output.h).
[[maybe_unused]] const bool gPlatformLinesPrintedHere = (platform::setLineOutput(printText), true);

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
    printText(stream, text, size);
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
