#include "lines/line_fields.h"

#include <charconv>
#include <cmath>

namespace corva::lines {
namespace {

constexpr const char* kMsFormat = "%.1f";

bool number(std::string_view text, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

}  // namespace

FieldText textOf(const OptionalMs& value) {
    FieldText t{};
    if (value.present)
        std::snprintf(t.text, sizeof t.text, kMsFormat, value.ms);
    else
        std::snprintf(t.text, sizeof t.text, "%s", kNoValue.data());
    return t;
}

FieldText textOf(const OptionalMsInterval& value) {
    FieldText t{};
    if (!value.present) return textOf(OptionalMs{});
    const int lo = std::snprintf(t.text, sizeof t.text, kMsFormat, value.lo);
    const size_t hiAt = static_cast<size_t>(lo) + kIntervalDots.size();
    if (lo < 0 || hiAt >= sizeof t.text) return t;
    kIntervalDots.copy(t.text + lo, kIntervalDots.size());
    std::snprintf(t.text + hiAt, sizeof t.text - hiAt, kMsFormat, value.hi);
    return t;
}

bool readField(std::string_view text, OptionalMs& out) {
    if (text == kNoValue) {
        out = OptionalMs{};
        return true;
    }
    OptionalMs read{true, 0.0};
    if (!number(text, read.ms) || read.ms < 0.0) return false;  // a time since its start
    out = read;
    return true;
}

bool readField(std::string_view text, OptionalMsInterval& out) {
    if (text == kNoValue) {
        out = OptionalMsInterval{};
        return true;
    }
    const size_t dots = text.find(kIntervalDots);
    OptionalMsInterval read{true, 0.0, 0.0};
    if (dots == std::string_view::npos || !number(text.substr(0, dots), read.lo) ||
        !number(text.substr(dots + kIntervalDots.size()), read.hi) || read.hi < read.lo)
        return false;
    out = read;
    return true;
}

}  // namespace corva::lines
