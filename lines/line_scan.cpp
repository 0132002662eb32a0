#include "lines/line_scan.h"

#include <charconv>
#include <cmath>

namespace corva::lines {
namespace {

// The literal text of the format from `at` up to its next conversion or the line's end.
std::string_view literalAt(const char* format, size_t at) {
    size_t end = at;
    while (format[end] != '\0' && format[end] != '%' && !(format[end] == '\n' && format[end + 1] == '\0'))
        ++end;
    return {format + at, end - at};
}

// The em dash of the format matches itself, or the one character a legacy code page or a
// plain-text copy has in its place ("-", cp1252's 0x97).
bool matchEmDash(std::string_view text, size_t& at) {
    constexpr std::string_view kEmDash = "\xE2\x80\x94";
    if (text.substr(at).starts_with(kEmDash)) {
        at += kEmDash.size();
        return true;
    }
    if (at < text.size() && (text[at] == '-' || text[at] == '\x97')) {
        ++at;
        return true;
    }
    return false;
}

void skipBlanks(std::string_view text, size_t& at) {
    while (at < text.size() && text[at] == ' ') ++at;
}

bool readInteger(std::string_view text, size_t& at, bool isSigned, int base, ScannedField& out) {
    skipBlanks(text, at);
    out.negative = isSigned && at < text.size() && text[at] == '-';
    if (out.negative) ++at;
    const char* begin = text.data() + at;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), out.magnitude, base);
    if (ec != std::errc()) return false;
    at += static_cast<size_t>(end - begin);
    return true;
}

bool readNumber(std::string_view text, size_t& at, ScannedField& out) {
    skipBlanks(text, at);
    const char* begin = text.data() + at;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), out.number);
    // The program prints only finite numbers: "nan" or "inf" is no line of it.
    if (ec != std::errc() || !std::isfinite(out.number)) return false;
    at += static_cast<size_t>(end - begin);
    return true;
}

}  // namespace

bool scanFields(const char* format, std::string_view text, ScannedField* fields, size_t count) {
    size_t at = 0;
    size_t f = 0;
    size_t field = 0;
    while (format[f] != '\0') {
        if (format[f] == '\n' && format[f + 1] == '\0') break;  // the line's end
        // The words after the last field may differ (another version's wording): the fields read.
        if (field == count && count > 0) break;
        if (format[f] == '\xE2' && format[f + 1] == '\x80' && format[f + 2] == '\x94') {
            if (!matchEmDash(text, at)) return false;
            f += 3;
            continue;
        }
        if (format[f] != '%' || format[f + 1] == '%') {
            f += format[f] == '%' ? 2 : 1;
            if (at >= text.size() || text[at] != format[f - 1]) return false;
            ++at;
            continue;
        }
        ++f;
        char conversion = 0;
        const detail::Field kind = detail::conversionAt(format, f, conversion);
        if (field >= count) return false;
        ScannedField& out = fields[field++];
        out = ScannedField{};
        out.begin = at;
        switch (kind) {
            case detail::Field::Text: {
                const std::string_view next = literalAt(format, f);
                size_t end = next.empty() ? text.size() : text.find(next, at);
                if (end == std::string_view::npos && field == count) end = text.size();  // the last field
                if (end == std::string_view::npos) return false;
                out.text = text.substr(at, end - at);
                at = end;
                break;
            }
            case detail::Field::Double:
                if (!readNumber(text, at, out)) return false;
                break;
            case detail::Field::Int:
            case detail::Field::Long:
            case detail::Field::LongLong:
                if (!readInteger(text, at, true, 10, out)) return false;
                break;
            case detail::Field::Bad:
                return false;
            default:
                if (!readInteger(text, at, false, conversion == 'x' ? 16 : 10, out)) return false;
                break;
        }
        out.end = at;
    }
    return field == count;
}

}  // namespace corva::lines
