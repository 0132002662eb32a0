// What a frame-level trace file holds (the program's TESSARAY_TRACE_FILE), read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corva::report {

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

struct TraceInstant {
    int64_t ns = 0;
    bool flag = false;       // free run: started; link: lost
    bool announced = false;  // free run: its console line was printed
    uint64_t frame = 0;      // present error
    int32_t status = 0;      // present error
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
    std::vector<TraceInstant> freeRuns;
    std::vector<TraceInstant> presentErrors;
    std::vector<TraceInstant> linkChanges;
    uint64_t dropped = 0;  // records the program could not write (its ring was full)
    bool ended = false;    // the end line was seen: the program closed the trace
    bool cut = false;      // the file stops inside a line
    size_t badLines = 0;   // lines not understood (skipped)
};

enum class TraceRead { Ok, NotATrace, NewerVersion };

// Reads a whole trace file's bytes. On failure `error` says why, in a sentence.
TraceRead parseTrace(const std::string& bytes, TraceFile& trace, std::string& error);
// Reads the file at path; an unreadable file counts as not a trace.
TraceRead readTraceFile(const std::string& path, TraceFile& trace, std::string& error);

// Milliseconds since the trace's clock line.
inline double traceMs(const TraceFile& trace, int64_t ns) {
    return static_cast<double>(ns - trace.clockSteadyNs) / 1e6;
}

}  // namespace corva::report
