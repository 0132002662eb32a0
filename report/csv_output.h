// CSV tables: one row per benchmark cycle, or one row per event.
#pragma once

#include <string>
#include <vector>

#include "report/log_model.h"

namespace corva::report {

std::string cyclesCsv(const std::vector<ParsedLog>& logs);
std::string eventsCsv(const std::vector<ParsedLog>& logs);

// A field quoted when it holds a comma, a quote or a line break.
std::string csvField(std::string_view text);

}  // namespace corva::report
