// Printing the program's lines. Each line is formatted whole and reaches the system in one
// write. While an OutputThread runs (the whole of the program's run), every line goes
// through one ordered queue that the output thread writes out, so no thread that prints
// ever waits for the console itself (a console with a mouse selection in it holds every
// writer): lines keep the order in which they were printed, across threads.
//
// When the queue is full (the console has held output back for a while), an ordinary thread
// waits for room: nothing it prints is lost. A time-critical thread (the present loop, the
// proximity reader: see CriticalThread) never waits: it has a reserve of the queue to
// itself. A line of its that finds even that full is parked in a second preallocated queue
// if the run is judged by it (lines/judged_lines.h), and written out in its place in the
// order; a repeatable line is counted and dropped, and the count is printed
// (kLinesDropped) once output flows again.
//
// A write to standard output that fails because the pipe's reader has gone says so once on
// standard error and calls the handler given to onStandardOutputGone: the run stops.
//
// Without an output thread (tools and tests that use parts of the program) lines are
// written directly, still one write per line.
#pragma once

#include <type_traits>

#include "lines/line_format.h"

namespace corva::lines {

// Formats one line (printf conventions) and prints it; the whole line in one write.
void printFormatted(Stream stream, const char* format, ...);

template <typename... Fields>
void print(const LineFormat<Fields...>& line, std::type_identity_t<Fields>... fields) {
    printFormatted(line.stream(), line.format(), detail::vararg(detail::printable(fields))...);
}

// `handler` runs once, on the thread whose write found standard output's reader gone; it
// must not print or wait (it asks the run to stop).
void onStandardOutputGone(void (*handler)());

// Says once on standard error that standard output lost lines (closed at start, full, or
// failing), with how many; nothing when every line was written or only a gone reader (said
// at once) lost them. Call after OutputThread::stop().
void reportLostOutput();

// Marks the calling thread as time-critical while it lives.
class CriticalThread {
  public:
    CriticalThread();
    ~CriticalThread();
    CriticalThread(const CriticalThread&) = delete;
    CriticalThread& operator=(const CriticalThread&) = delete;

  private:
    bool previous_;
};

// The thread that writes the queued lines out. One at a time per process.
class OutputThread {
  public:
    OutputThread();
    // Stops it, if stop() was not called.
    ~OutputThread();
    OutputThread(const OutputThread&) = delete;
    OutputThread& operator=(const OutputThread&) = delete;

    // Writes out every line printed before, then ends the thread: later lines are written
    // directly. Call it before the process may end.
    void stop();

  private:
    bool running_ = false;
};

}  // namespace corva::lines
