// Reading logs from files, folders and standard input.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/log_model.h"

namespace corva::report {

// Parses every log the paths name; a folder stands for the *.log files in it. Unreadable
// inputs and inputs that are not logs are named on standard error and left out.
// Returns false when that happened to any of them.
bool loadLogs(const std::vector<std::string>& paths, std::vector<ParsedLog>& logs);

// As above; onLog sees each log kept, with its bytes, before they are let go.
using LogSeen = std::function<void(const ParsedLog& log, std::string_view bytes)>;
bool loadLogs(const std::vector<std::string>& paths, std::vector<ParsedLog>& logs, const LogSeen& onLog);

// The files the paths name, a folder standing for its *.log files (said nothing about).
std::vector<std::string> logFilesOf(const std::vector<std::string>& paths);

}  // namespace corva::report
