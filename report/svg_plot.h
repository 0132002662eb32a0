// One picture: the timeline of one run (display-status bits as steps, benchmark markers,
// frames per second, free-run periods shaded, failures) above the distribution of wake
// latencies over all runs. Every mark is labelled where it is drawn.
#pragma once

#include <string>
#include <vector>

#include "report/log_model.h"
#include "trace/trace_file.h"

namespace corva::report {

// runIndex counts the runs of all logs from 1; 0 picks the first run that has cycles (or
// else the first run). With a trace, frame-interval plots around each park and wake follow.
std::string svgReport(const std::vector<ParsedLog>& logs, size_t runIndex,
                      const trace::TraceFile* trace = nullptr);

// The run svgReport draws for runIndex; nullptr when there is none.
const LoggedRun* timelineRun(const std::vector<ParsedLog>& logs, size_t runIndex);

}  // namespace corva::report
