#include "app/atoi_clamped.h"

#include <cstdlib>
#include <limits>
#include <string>

namespace corva {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t atoiClamped(const char* text) {
    if (text == nullptr) return 0;
    while (isSpace(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    // Accumulated as a magnitude that stops growing once past the limit, so any number of
    // digits is safe.
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double atofDecimal(const char* text) {
    if (text == nullptr) return 0.0;
    while (isSpace(*text)) ++text;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const char* end = text;
    if (*end == '-' || *end == '+') ++end;
    const char* mantissa = end;
    while (digit(*end)) ++end;
    const bool integerDigits = end != mantissa;
    if (*end == '.') {
        const char* fraction = ++end;
        while (digit(*end)) ++end;
        if (!integerDigits && end == fraction) return 0.0;
    } else if (!integerDigits) {
        return 0.0;
    }
    if (*end == 'e' || *end == 'E') {
        const char* exponent = end + 1;
        if (*exponent == '-' || *exponent == '+') ++exponent;
        if (digit(*exponent)) {
            end = exponent;
            while (digit(*end)) ++end;
        }
    }
    // The prefix alone, so strtod cannot read further (a hexadecimal tail).
    return std::strtod(std::string(text, end).c_str(), nullptr);
}

}  // namespace corva
