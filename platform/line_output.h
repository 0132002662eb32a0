// Lines that platform code prints (lines/printed_lines.h) go out through the program's
// printer, in order with every other line and through its output queue. The printer
// (lines/printer.cpp) sits above platform/ and installs itself here; without it (a tool that
// links platform/ alone) a line is written directly, in one write.
#pragma once

#include <cstddef>
#include <type_traits>

#include "lines/line_format.h"

namespace corva::platform {

// Takes one whole formatted line, its line end included.
using LineOutput = void (*)(lines::Stream stream, const char* text, size_t size);

void setLineOutput(LineOutput output);

void printLineFormatted(lines::Stream stream, const char* format, ...);

template <typename... Fields>
void printLine(const lines::LineFormat<Fields...>& line, std::type_identity_t<Fields>... fields) {
    printLineFormatted(line.stream(), line.format(),
                       lines::detail::vararg(lines::detail::printable(fields))...);
}

}  // namespace corva::platform
