// Everything the report reconstructed, as one JSON document.
#pragma once

#include <string>
#include <vector>

#include "report/log_model.h"

namespace corva::report {

std::string reportJson(const std::vector<ParsedLog>& logs);

}  // namespace corva::report
