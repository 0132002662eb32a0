#include "lines/judged_lines.h"

#include <cstring>

#include "lines/printed_lines.h"

namespace corva::lines {

bool droppable(const char* format) {
    // Compared by text, not by address: identical literals are one object only where the
    // toolchain merges them (not in an MSVC debug build, nor under AddressSanitizer), and a
    // per-frame line taken for a judged one would fill the side queue the judged lines need.
    for (const char* repeatable : {kStatus.format(), kDstatChange.format(), kPresentFailed.format(),
                                   kFreeRunStart.format(), kFreeRunOver.format()})
        if (format == repeatable || std::strcmp(format, repeatable) == 0) return true;
    return false;
}

}  // namespace corva::lines
