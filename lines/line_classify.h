// Which line of the table a printed line is: how every reader of the program's logs tells
// the lines apart, through their whole formats rather than their first words.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/simulator_lines.h"

namespace corva::lines {

// The most fields a line of either table has.
inline constexpr size_t kMostFields = 16;

// A line of the log with the table's entry that reads it and the fields it read, scanned once.
struct ScannedLine {
    const PrintedLine* entry = nullptr;  // nullptr for text the program does not print
    std::string_view text;
    ScannedField fields[kMostFields];

    // read(kCycle, n, total): the fields, each as the type of its output, when the line is of
    // that format; false otherwise, or when a field does not fit its output.
    template <typename... Fields, typename... Outs>
    bool read(const LineFormat<Fields...>& format, Outs&&... outs) const {
        static_assert(sizeof...(Fields) == sizeof...(Outs), "one output per field of the line");
        // By text, not only by address: a format's literal is one object per module on ELF but
        // one per translation unit on Windows, where the table and the caller may hold copies.
        if (entry == nullptr ||
            (entry->format != format.format() && std::strcmp(entry->format, format.format()) != 0))
            return false;
        [[maybe_unused]] size_t k = 0;
        return (detail::assign(outs, fields[k++]) && ...);
    }
};

// The table's entry for the line and its fields. The line must read with the entry's format
// (lines::scan's rules), each field as its declared type. Where formats of several entries read
// it, the one whose fixed start is the longest wins (the most particular), and of those the
// first in the table: the driver-call and graphics-call failure lines print alike and classify
// as kDriverCallFailed; lines/bring_up_calls.h tells which call it was.
ScannedLine classify(std::string_view text);

// The line's step in the start sequence (Facts::startStep), 0 for none.
int startStepOf(const ScannedLine& line);

// The same for the simulated headset's own lines (lines/simulator_lines.h).
const SimulatorLine* classifySimulator(std::string_view text);

}  // namespace corva::lines
