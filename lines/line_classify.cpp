#include "lines/line_classify.h"

#include "lines/line_scan.h"

namespace corva::lines {
namespace {

constexpr size_t kMostFields = 16;

constexpr bool fieldsFit() {
    for (const PrintedLine& line : kPrintedLines)
        if (line.fields > kMostFields) return false;
    return true;
}
static_assert(fieldsFit(), "a line with more fields than classify reads");

}  // namespace

const PrintedLine* classify(std::string_view text) {
    const PrintedLine* best = nullptr;
    ScannedField fields[kMostFields];
    for (const PrintedLine& line : kPrintedLines) {
        if (best != nullptr && line.prefix.size() <= best->prefix.size()) continue;
        if (!text.starts_with(line.prefix)) continue;
        if (scanFields(line.format, text, fields, line.fields)) best = &line;
    }
    return best;
}

}  // namespace corva::lines
