#include "lines/line_classify.h"

#include <algorithm>

namespace corva::lines {
namespace {

template <typename Table>
constexpr bool fieldsFit(const Table& table) {
    for (const auto& line : table)
        if (line.fields > kMostFields) return false;
    return true;
}
static_assert(fieldsFit(kPrintedLines) && fieldsFit(kSimulatorLines),
              "a line with more fields than classify reads");

// The entry of `table` whose format reads the text, the most particular first; its fields in
// `fields`.
template <typename Entry, size_t N>
const Entry* classifyIn(const Entry (&table)[N], std::string_view text, ScannedField (&fields)[kMostFields]) {
    const Entry* best = nullptr;
    ScannedField candidate[kMostFields];
    for (const Entry& line : table) {
        if (best != nullptr && line.prefix.size() <= best->prefix.size()) continue;
        if (!text.starts_with(line.prefix)) continue;
        if (scanFields(line.format, text, candidate, line.fields) && line.fieldsRead(candidate)) {
            best = &line;
            std::copy(candidate, candidate + line.fields, fields);
        }
    }
    return best;
}

}  // namespace

ScannedLine classify(std::string_view text) {
    ScannedLine line;
    line.text = text;
    line.entry = classifyIn(kPrintedLines, text, line.fields);
    return line;
}

int startStepOf(const ScannedLine& line) {
    if (line.entry == nullptr) return 0;
    if (!line.entry->startStepByMarker) return line.entry->startStep;
    const MarkerLine* marker = markerNamed(line.fields[0].text);
    return marker != nullptr ? marker->startStep : 0;
}

const SimulatorLine* classifySimulator(std::string_view text) {
    ScannedField fields[kMostFields];
    return classifyIn(kSimulatorLines, text, fields);
}

}  // namespace corva::lines
