#include "lines/judged_lines.h"

#include "lines/printed_lines.h"

namespace corva::lines {

bool droppable(const char* format) {
    for (const char* repeatable : {kStatus.format(), kDstatChange.format(), kPresentFailed.format(),
                                   kFreeRunStart.format(), kFreeRunOver.format()})
        if (format == repeatable) return true;
    return false;
}

}  // namespace corva::lines
