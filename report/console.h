// What tessaray-report says on the terminal: every text passes terminalText, so nothing a log
// or a path holds reaches the terminal as a control sequence; a standard output that could not
// be written is known at the end.
#pragma once

#include <string_view>

#include "report/report_text.h"

namespace corva::report {

// Standard output: the summary, the comparison, the names of the files written.
void say(std::string_view text);
void sayFormat(const char* format, ...) TESSARAY_PRINTF_LIKE(1, 2);

// One line on standard error, "tessaray-report: " and the text; a newline inside it is
// escaped, so it stays one line.
void complain(const char* format, ...) TESSARAY_PRINTF_LIKE(1, 2);

// Flushes standard output; false (after saying so on standard error) when any of it could
// not be written: a full disk, a closed descriptor.
bool standardOutputWritten();

}  // namespace corva::report
