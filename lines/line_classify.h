// Which line of the table a printed line is: how every reader of the program's logs tells
// the lines apart, through their whole formats rather than their first words.
#pragma once

#include <string_view>

#include "lines/printed_lines.h"
#include "lines/simulator_lines.h"

namespace corva::lines {

// The table's entry for the line, nullptr for text the program does not print. The line
// must read with the entry's format (lines::scan's rules), each field as its declared type. Where formats of
// several entries read it, the one whose fixed start is the longest wins (the most particular), and of those
// the first in the table: the driver-call and graphics-call failure lines print alike and
// classify as kDriverCallFailed; present/bring_up_calls.h tells which call it was.
const PrintedLine* classify(std::string_view text);

// The same for the simulated headset's own lines (lines/simulator_lines.h).
const SimulatorLine* classifySimulator(std::string_view text);

}  // namespace corva::lines
