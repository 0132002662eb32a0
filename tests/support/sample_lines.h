// A line of every entry of the table of printed lines, its fields filled with values the
// program could print: how tests show that each line is read, whatever lines are added.
#pragma once

#include "lines/printed_lines.h"
#include "lines/simulator_lines.h"

#include <cstdio>
#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

namespace corva::test {

struct SampleLine {
    const lines::PrintedLine* entry;
    std::string text;  // without its line end
};

// Numbers 7 (a failing status for every status field), texts "-" (a step not taken, a
// reason, a call the bring-up does not know).
template <typename T>
T sampleField();
template <typename T, const char* Mask>
lines::Varying<T, Mask> sampleVarying(const lines::Varying<T, Mask>*) {
    return sampleField<T>();
}
template <typename T>
T sampleField() {
    if constexpr (std::is_same_v<T, const char*>) {
        return "-";
    } else if constexpr (std::is_same_v<T, lines::OptionalMs> ||
                         std::is_same_v<T, lines::OptionalMsInterval>) {
        return T{};  // not taken: "-"
    } else if constexpr (requires { T::value; }) {
        return sampleVarying(static_cast<const T*>(nullptr));
    } else {
        return T(7);
    }
}

template <typename... Fields>
std::string sampleText(const lines::LineFormat<Fields...>& line, std::type_identity_t<Fields>... fields) {
    char text[1024];
    const int n = std::snprintf(text, sizeof text, line.format(),
                                lines::detail::vararg(lines::detail::printable(fields))...);
    return n > 0 ? std::string(text, static_cast<size_t>(n) - 1) : std::string();
}

// The line as the program prints it, its line end included: how tests write and look for lines.
template <typename... Fields>
std::string printed(const lines::LineFormat<Fields...>& line, std::type_identity_t<Fields>... fields) {
    return sampleText(line, fields...) + "\n";
}

// A marker line, "NAME hh:mm:ss.mmm".
inline std::string markerAt(const char* name, unsigned h, unsigned m, unsigned s, unsigned ms) {
    return printed(lines::kMarker, name, h, m, s, ms);
}

template <typename... Fields>
std::string sampleTextOf(const lines::LineFormat<Fields...>& line) {
    return sampleText(line, sampleField<Fields>()...);
}

template <typename... Fields>
SampleLine sampleOf(lines::LineId id, const lines::LineFormat<Fields...>& line) {
    return {&lines::entryOf(id), sampleText(line, sampleField<Fields>()...)};
}

inline std::vector<SampleLine> sampleLines() {
    std::vector<SampleLine> out;
#define TESSARAY_SAMPLE(name, stream, role, outcome, facts, fields, text) \
    out.push_back(sampleOf(lines::LineId::name, lines::k##name));
    TESSARAY_PRINTED_LINES(TESSARAY_SAMPLE)
#undef TESSARAY_SAMPLE
    // The markers by their names.
    std::erase_if(out, [](const SampleLine& s) { return s.entry->id == lines::LineId::Marker; });
    for (const lines::MarkerLine& marker : lines::kMarkers)
        out.push_back(
            {&lines::entryOf(lines::LineId::Marker), sampleText(lines::kMarker, marker.name, 7, 7, 7, 7)});
    return out;
}

// A line of every entry of the simulator's own table.
struct SampleSimulatorLine {
    const lines::SimulatorLine* entry;
    std::string text;
};

inline std::vector<SampleSimulatorLine> simulatorSampleLines() {
    std::vector<SampleSimulatorLine> out;
    size_t at = 0;
#define TESSARAY_SIM_SAMPLE(name, stream, fields, text) \
    out.push_back({&lines::kSimulatorLines[at++], sampleTextOf(lines::k##name)});
    TESSARAY_SIMULATOR_LINES(TESSARAY_SIM_SAMPLE)
#undef TESSARAY_SIM_SAMPLE
    return out;
}

}  // namespace corva::test
