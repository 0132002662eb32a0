// What tessaray-report makes of a frame-level trace: Chrome trace-event JSON (for a trace
// viewer; the HTML page is the offline view), one CSV row per frame, the frame-interval plots
// around each park and wake, and the check that a trace and the console log of the same run agree.
#pragma once

#include "report/log_model.h"
#include "trace/trace_file.h"

#include <string>
#include <vector>

namespace corva::report {

// Tracks (thread ids) of the JSON, each with its name.
enum TraceTrack : int { kTrackFrames = 1, kTrackRunControl, kTrackPanels, kTrackParkDoze, kTrackTelemetry };

std::string traceEventJson(const trace::TraceFile& trace);
std::string framesCsv(const trace::TraceFile& trace);

// An SVG group of frame-interval plots, one per park and wake, `top` pixels down a picture
// `width` wide; `height` receives the space it takes (0: nothing to draw).
std::string frameIntervalSvg(const trace::TraceFile& trace, double top, double width, double& height);

struct TraceMatch {
    const LoggedRun* run = nullptr;  // the run of the logs the trace was recorded with; null: none
    size_t runNumber = 0;            // from 1 over all logs
    std::vector<std::string> disagreements;
    size_t markers = 0;  // markers compared
};

// Finds the run whose INIT_START (or first marker) has the trace's local time, then compares
// frame counts and every marker's name and printed time.
TraceMatch matchTraceToLogs(const trace::TraceFile& trace, const std::vector<ParsedLog>& logs);

}  // namespace corva::report
