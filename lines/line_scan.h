// Reads the fields of a printed line back with the line's own format: the literal text must
// match, each conversion reads its field (numbers may carry the blanks of a field width, a
// text runs to the literal that follows it, or to the end of the line). The words after the
// last field need not match, nor need the line end there: a log of another version that
// rewords the end of a line still reads.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "lines/line_format.h"

namespace corva::lines {

struct ScannedField {
    bool negative = false;
    uint64_t magnitude = 0;
    double number = 0.0;
    std::string_view text;
    size_t begin = 0;  // where the field's text is in the line, a number's blanks of width included
    size_t end = 0;
};

// Fills fields[0..count) from text; false when the text is not a line of this format.
bool scanFields(const char* format, std::string_view text, ScannedField* fields, size_t count);

// A field the caller does not need.
struct Skip {};

namespace detail {

inline bool assign(Skip, const ScannedField&) {
    return true;
}
inline bool assign(std::string_view& out, const ScannedField& f) {
    out = f.text;
    return true;
}
inline bool assign(double& out, const ScannedField& f) {
    out = f.number;
    return true;
}
inline bool assign(OptionalMs& out, const ScannedField& f) {
    return readField(f.text, out);
}
inline bool assign(OptionalMsInterval& out, const ScannedField& f) {
    return readField(f.text, out);
}
template <typename Int>
requires std::is_integral_v<Int>
bool assign(Int& out, const ScannedField& f) {
    using Limits = std::numeric_limits<Int>;
    if (f.negative) {
        if constexpr (!Limits::is_signed) {
            return false;
        } else {
            if (f.magnitude > static_cast<uint64_t>(Limits::max()) + 1) return false;
            out = static_cast<Int>(-static_cast<int64_t>(f.magnitude - 1) - 1);
            return true;
        }
    }
    if (f.magnitude > static_cast<uint64_t>(Limits::max())) return false;
    out = static_cast<Int>(f.magnitude);
    return true;
}

// Whether scanned fields read as the declared types (a number in its type's range, an
// optional field's text).
template <typename... Fields>
bool fieldsRead([[maybe_unused]] const ScannedField* fields) {
    [[maybe_unused]] size_t k = 0;
    [[maybe_unused]] auto reads = [&](auto out) { return assign(out, fields[k++]); };
    return (reads(typename FieldTraits<Fields>::Read{}) && ...);
}

}  // namespace detail

// scan(kCycle, line, n, total): true when line is a CYCLE line, with its fields in n and total.
template <typename... Fields, typename... Outs>
bool scan(const LineFormat<Fields...>& line, std::string_view text, Outs&&... outs) {
    static_assert(sizeof...(Fields) == sizeof...(Outs), "one output per field of the line");
    if (!text.starts_with(line.prefix())) return false;  // the quick answer for most lines
    ScannedField fields[sizeof...(Fields) + 1];
    if (!scanFields(line.format(), text, fields, sizeof...(Fields))) return false;
    size_t k = 0;
    return (detail::assign(outs, fields[k++]) && ...);
}

}  // namespace corva::lines
