#include "lines/judged_lines.h"

#include <cstring>

#include "lines/printed_lines.h"

namespace corva::lines {

bool droppable(const char* format) {
    // Compared by text, not by address: identical literals are one object only where the
    // toolchain merges them (not in an MSVC debug build, nor under AddressSanitizer), and a
    // per-frame line taken for a judged one would fill the side queue the judged lines need.
    for (const PrintedLine& line : kPrintedLines)
        if (line.droppable && (format == line.format || std::strcmp(format, line.format) == 0)) return true;
    return false;
}

}  // namespace corva::lines
