// A printed line's format together with the types of its fields. The two are checked
// against each other when the program is compiled: a format whose conversions do not
// match the declared fields (or that does not end the line) does not compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "lines/line_fields.h"

namespace corva::lines {

enum class Stream : uint8_t { Out, Err };

namespace detail {

enum class Field : uint8_t {
    Int,
    Long,
    LongLong,
    Unsigned,
    UnsignedLong,
    UnsignedLongLong,
    Double,
    Text,
    Bad
};

// The field of the conversion that starts at format[at] (just after its '%'); moves `at`
// past the conversion. "%%" is no field: it is reported as Bad with `percent` set.
constexpr Field conversionAt(const char* format, size_t& at, char& conversion) {
    while (format[at] != '\0' &&
           std::string_view("-+ #0123456789.").find(format[at]) != std::string_view::npos)
        ++at;
    int longs = 0;
    while (format[at] == 'l') {
        ++longs;
        ++at;
    }
    conversion = format[at];
    if (conversion == '\0') return Field::Bad;
    ++at;
    switch (conversion) {
        case 'd':
        case 'i':
            return longs == 0 ? Field::Int : longs == 1 ? Field::Long : Field::LongLong;
        case 'u':
        case 'x':
            return longs == 0 ? Field::Unsigned : longs == 1 ? Field::UnsignedLong : Field::UnsignedLongLong;
        case 'f':
            return longs == 0 ? Field::Double : Field::Bad;
        case 's':
            return longs == 0 ? Field::Text : Field::Bad;
        default:
            return Field::Bad;
    }
}

template <typename Declared>
constexpr Field fieldOf() {
    using T = typename FieldTraits<Declared>::Printed;
    if constexpr (std::is_same_v<T, int>) return Field::Int;
    if constexpr (std::is_same_v<T, long>) return Field::Long;
    if constexpr (std::is_same_v<T, long long>) return Field::LongLong;
    if constexpr (std::is_same_v<T, unsigned>) return Field::Unsigned;
    if constexpr (std::is_same_v<T, unsigned long>) return Field::UnsignedLong;
    if constexpr (std::is_same_v<T, unsigned long long>) return Field::UnsignedLongLong;
    if constexpr (std::is_same_v<T, double>) return Field::Double;
    if constexpr (std::is_same_v<T, const char*>) return Field::Text;
    return Field::Bad;
}

template <typename... Fields>
constexpr bool formatMatches(const char* format) {
    constexpr Field expected[] = {fieldOf<Fields>()..., Field::Bad};
    size_t field = 0;
    size_t at = 0;
    size_t length = 0;
    while (format[length] != '\0') ++length;
    if (length == 0 || format[length - 1] != '\n') return false;
    while (format[at] != '\0') {
        if (format[at++] != '%') continue;
        if (format[at] == '%') {
            ++at;
            continue;
        }
        char conversion = 0;
        const Field f = conversionAt(format, at, conversion);
        if (f == Field::Bad || field >= sizeof...(Fields) || expected[field] != f) return false;
        ++field;
    }
    return field == sizeof...(Fields);
}

// Not constexpr: reached during constant evaluation, it stops the compilation there.
void formatDoesNotMatchItsFields();

// Up to the first field, or the first character beyond ASCII (the em dash), which a log saved
// in a legacy code page or retyped shows differently.
constexpr std::string_view prefixOf(const char* format) {
    size_t n = 0;
    while (format[n] != '\0' && format[n] != '%' && format[n] != '\n' &&
           static_cast<unsigned char>(format[n]) < 0x80)
        ++n;
    return {format, n};
}

}  // namespace detail

template <typename... Fields>
class LineFormat {
  public:
    consteval LineFormat(Stream stream, const char* format)
        : stream_(stream), format_(format), prefix_(detail::prefixOf(format)) {
        if (!detail::formatMatches<Fields...>(format)) detail::formatDoesNotMatchItsFields();
    }

    constexpr Stream stream() const { return stream_; }
    constexpr const char* format() const { return format_; }
    static constexpr size_t fieldCount() { return sizeof...(Fields); }
    // The text before the first field (or the em dash): how a reader tells the line apart.
    constexpr std::string_view prefix() const { return prefix_; }

  private:
    Stream stream_;
    const char* format_;
    std::string_view prefix_;
};

}  // namespace corva::lines
