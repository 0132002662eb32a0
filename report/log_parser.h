// The report's entry point for reading logs: the bytes of one saved log (a file or
// standard input) in, every run it holds out. Never fails: what it does not recognise is
// counted; ParsedLog::isLog says whether it was a log of the program at all.
#pragma once

#include <string_view>

#include "report/log_model.h"

namespace corva::report {

ParsedLog parseLog(std::string_view bytes, std::string_view source = "-");

// Names for the summary, CSV and JSON; those of events and failures are the table's.
using lines::eventName;
using lines::failureKindName;
const char* modeName(RunMode mode);
const char* outcomeName(CycleOutcome outcome);
const char* runEndName(RunEnd end);

}  // namespace corva::report
