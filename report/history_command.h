// tessaray-report's history options: adding the logs' runs, merging, trends, regressions.
#pragma once

#include <string>
#include <vector>

#include "report/log_model.h"
#include "report/report_options.h"
#include "report/trace_outputs.h"

namespace corva::report {

// keys[i]: runContentKeys of logs[i], for the logs to add (the first keys.size() of logs).
// Returns the exit code: 0, 2 (the history or another refused: one line said why) or
// kExitRegression.
int historyCommand(const ReportOptions& options, const std::vector<ParsedLog>& logs,
                   const std::vector<std::vector<std::string>>& keys, const trace::TraceFile* trace,
                   const TraceMatch& match);

}  // namespace corva::report
