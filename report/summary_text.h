// The plain-text summary the report prints by default.
#pragma once

#include <string>
#include <vector>

#include "report/log_model.h"
#include "report/stats.h"

namespace corva::report {

std::string summaryText(const std::vector<ParsedLog>& logs);

// The proximity link of a run as the summary shows it: up or not, firmware, bypass.
std::string proximityLinkText(const LoggedRun& run);

// "A vs B" for every duration both sets have.
std::string comparisonText(const std::vector<ParsedLog>& a, const std::vector<ParsedLog>& b);

std::vector<const LoggedRun*> allRuns(const std::vector<ParsedLog>& logs);

}  // namespace corva::report
