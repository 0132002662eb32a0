#include "lines/line_classify.h"

#include "lines/line_scan.h"

namespace corva::lines {
namespace {

constexpr size_t kMostFields = 16;

template <typename Table>
constexpr bool fieldsFit(const Table& table) {
    for (const auto& line : table)
        if (line.fields > kMostFields) return false;
    return true;
}
static_assert(fieldsFit(kPrintedLines) && fieldsFit(kSimulatorLines),
              "a line with more fields than classify reads");

// The entry of `table` whose format reads the text, the most particular first.
template <typename Entry, size_t N>
const Entry* classifyIn(const Entry (&table)[N], std::string_view text) {
    const Entry* best = nullptr;
    ScannedField fields[kMostFields];
    for (const Entry& line : table) {
        if (best != nullptr && line.prefix.size() <= best->prefix.size()) continue;
        if (!text.starts_with(line.prefix)) continue;
        if (scanFields(line.format, text, fields, line.fields) && line.fieldsRead(fields)) best = &line;
    }
    return best;
}

}  // namespace

const PrintedLine* classify(std::string_view text) {
    return classifyIn(kPrintedLines, text);
}

const SimulatorLine* classifySimulator(std::string_view text) {
    return classifyIn(kSimulatorLines, text);
}

}  // namespace corva::lines
