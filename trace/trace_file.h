// What a frame-level trace file holds (the program's TESSARAY_TRACE_FILE), read back through
// the record layouts of trace_format.h: one struct per record kind, one vector per kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corva::trace {

struct TraceFrame {
    uint64_t index = 0;
    int64_t loopTopNs = 0;
    int64_t startNs = 0;
    int64_t submitNs = 0;
    int64_t presentNs = 0;
    int64_t vblankNs = 0;  // the vertical-blank wait returned; 0 without a waitable
    char wait = 'n';       // 's' signalled, 't' timed out, 'n' no waitable
    int64_t predictedNs = 0;
    int64_t leadNs = 0;
    bool freeRunning = false;
    int32_t presentStatus = 0;
};

struct TraceMarker {
    int64_t ns = 0;
    int64_t localMs = 0;  // milliseconds of the day, as printed
    std::string name;
};

struct TracePanelCall {
    int64_t callNs = 0;
    int64_t returnNs = 0;
    bool on = false;
    int32_t status = 0;
    int32_t modeStatus = 0;  // panels on only
};

struct TraceDstat {
    int64_t ns = 0;  // the telemetry report's arrival
    uint16_t from = 0;
    uint16_t to = 0;
};

struct TraceFreeRun {
    int64_t ns = 0;
    bool started = false;
    bool announced = false;  // its console line was printed
};

struct TracePresentError {
    int64_t ns = 0;
    uint64_t frame = 0;
    int32_t status = 0;
};

struct TraceLinkChange {
    int64_t ns = 0;
    bool lost = false;  // false: it came back
};

struct TraceFile {
    std::string source;
    int version = 0;
    int64_t clockSteadyNs = 0;  // this steady-clock reading ...
    int64_t clockLocalMs = 0;   // ... was this local time of day
    int64_t clockUnixMs = 0;
    std::vector<TraceFrame> frames;
    std::vector<TraceMarker> markers;
    std::vector<TracePanelCall> panels;
    std::vector<int64_t> parked;     // the loop published parked
    std::vector<int64_t> wakesSeen;  // the loop left the parked wait to wake the panels
    std::vector<TraceDstat> dstat;
    std::vector<TraceFreeRun> freeRuns;
    std::vector<TracePresentError> presentErrors;
    std::vector<TraceLinkChange> linkChanges;
    uint64_t dropped = 0;  // records the program could not write (its ring was full)
    bool ended = false;    // the end line was seen: the program closed the trace
    bool cut = false;      // the file stops inside a line
    // Lines skipped: not a record of this version (another program's text), or a record with
    // a field malformed or beyond its range. The first of them, numbered from 1.
    size_t badLines = 0;
    size_t firstBadLine = 0;
};

enum class TraceRead { Ok, NotATrace, NewerVersion };

// The log reader's cap: a trace of about three hours at 90 frames a second. Larger input (and
// a device or a pipe) is refused, which keeps the report's memory bounded.
constexpr size_t kMaxTraceBytes = size_t(64) << 20;

// Reads a whole trace file's bytes. On failure `error` says why, in a sentence.
TraceRead parseTrace(std::string_view bytes, TraceFile& trace, std::string& error);
// Reads the regular file at path, up to kMaxTraceBytes; any other is not a trace.
TraceRead readTraceFile(const std::string& path, TraceFile& trace, std::string& error);

// Milliseconds since the trace's clock line.
inline double traceMs(const TraceFile& trace, int64_t ns) {
    return static_cast<double>(ns - trace.clockSteadyNs) / 1e6;
}

}  // namespace corva::trace
