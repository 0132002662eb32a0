// Field types of the printed lines beyond printf's own, and what each field is to a reader:
//   - Varying<T>: a value that differs from one run of the same scenario to the next (a time
//     of day, a rate, a distance, a count of frames). Printed as T; golden outputs show its mask.
//   - OptionalMs, OptionalMsInterval: a time in ms, or an interval of them, that a line may not
//     have ("-"). Their text is written and read here, in one place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <type_traits>

namespace corva::lines {

inline constexpr char kVaryingMask[] = "#";

template <typename T, const char* Mask = kVaryingMask>
struct Varying {
    constexpr Varying(T v) : value(v) {}
    T value;
};

// A time in ms with one decimal ("%.1f"), or "-" where there is none (a step not taken).
struct OptionalMs {
    bool present = false;
    double ms = 0.0;
};

// An interval of ms "LO..HI", each bound as OptionalMs's, or "-" where there is none.
struct OptionalMsInterval {
    bool present = false;
    double lo = 0.0;
    double hi = 0.0;
};

inline constexpr std::string_view kNoValue = "-";
inline constexpr std::string_view kIntervalDots = "..";

struct FieldText {
    char text[48];
};
FieldText textOf(const OptionalMs& value);
FieldText textOf(const OptionalMsInterval& value);

// False for a text the program cannot have printed (an interval whose end is before its start).
bool readField(std::string_view text, OptionalMs& out);
bool readField(std::string_view text, OptionalMsInterval& out);

namespace detail {

// Printed: the printf type the format's conversion takes; Read: what a reader reads it into;
// mask: how golden outputs show it (nullptr: as printed).
template <typename T>
struct FieldTraits {
    using Printed = T;
    using Read = T;
    static constexpr const char* mask = nullptr;
};
template <>
struct FieldTraits<const char*> {
    using Printed = const char*;
    using Read = std::string_view;
    static constexpr const char* mask = nullptr;
};
template <typename T, const char* Mask>
struct FieldTraits<Varying<T, Mask>> {
    using Printed = typename FieldTraits<T>::Printed;
    using Read = typename FieldTraits<T>::Read;
    static constexpr const char* mask = Mask;
};
template <>
struct FieldTraits<OptionalMs> {
    using Printed = const char*;
    using Read = OptionalMs;
    static constexpr const char* mask = nullptr;
};
template <>
struct FieldTraits<OptionalMsInterval> {
    using Printed = const char*;
    using Read = OptionalMsInterval;
    static constexpr const char* mask = nullptr;
};

// A field as printf takes it: printable() turns it into a value or a FieldText (alive until
// the end of the full expression that prints), vararg() into what printf reads.
template <typename T>
constexpr const T& printable(const T& value) {
    return value;
}
inline FieldText printable(const OptionalMs& value) {
    return textOf(value);
}
inline FieldText printable(const OptionalMsInterval& value) {
    return textOf(value);
}
// Declared after the others: its call finds them all.
template <typename T, const char* Mask>
constexpr decltype(auto) printable(const Varying<T, Mask>& value) {
    return printable(value.value);
}
template <typename T>
constexpr const T& vararg(const T& value) {
    static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>, "a field printf cannot take");
    return value;
}
inline const char* vararg(const FieldText& text) {
    return text.text;
}

}  // namespace detail
}  // namespace corva::lines
