// The decimal integer prefix of a command-line word, as the C runtime's atoi reads it, with
// one difference that makes it defined everywhere: a value beyond the 32-bit range is clamped
// to the nearer limit (what the Windows runtime returns) instead of wrapping.
#pragma once

#include <cstdint>

namespace corva {

int32_t atoiClamped(const char* text);

// The longest decimal floating-point prefix, as atof reads it, but decimal only: the C
// runtimes disagree on hexadecimal ("0x2" is 2 in glibc and 0 in the classic Windows
// runtime), infinity and NaN, so both builds read none of them (0.0, like no number).
double atofDecimal(const char* text);

}  // namespace corva
