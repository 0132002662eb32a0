// The data the HTML page draws, as JSON the page's script reads: the chosen run's cycles and
// wake phases, the duration distributions over all runs, and (html_trace_data.cpp, the one
// place the page reads a trace) the frame-level timeline.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "report/log_model.h"
#include "trace/trace_file.h"

namespace corva::report {

nlohmann::ordered_json cyclePhasesData(const LoggedRun& run);
nlohmann::ordered_json distributionsData(const std::vector<const LoggedRun*>& runs);
// refreshHz: the display mode's (0: unknown), the period of the repeated vertical blanks.
nlohmann::ordered_json traceTimelineData(const trace::TraceFile& trace, double refreshHz);

// Milliseconds rounded to a microsecond: what the page shows, and a smaller file.
double htmlMs(double ms);

}  // namespace corva::report
