// One self-contained HTML page of a run: the summaries and duration tables, the chosen run's
// wake phases per cycle, the distributions over all runs, the trace's zoomable timeline and
// the A/B comparison, drawn in the browser by the embedded chart library. Nothing is fetched.
#pragma once

#include <string>
#include <vector>

#include "report/html_assets.h"
#include "report/log_model.h"
#include "trace/trace_file.h"

namespace corva::report {

struct HtmlInput {
    const std::vector<ParsedLog>* logs = nullptr;
    size_t run = 1;                                    // the run drawn per cycle, from 1 over all logs
    const trace::TraceFile* trace = nullptr;           // a trace of that run, or null
    const std::vector<ParsedLog>* compareA = nullptr;  // --compare A... --with B..., or null
    const std::vector<ParsedLog>* compareB = nullptr;
    std::string date;  // "YYYY-MM-DD" of the run, empty when unknown
};

std::string htmlReport(const HtmlInput& input, const HtmlAssets& assets);

// The run's local date: from the trace's clock line, else the log file's modification time.
std::string runDate(const trace::TraceFile* trace, const std::string& logPath);

}  // namespace corva::report
