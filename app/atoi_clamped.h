// The decimal integer prefix of a command-line word, as the C runtime's atoi reads it, with
// one difference that makes it defined everywhere: a value beyond the 32-bit range is clamped
// to the nearer limit (what the Windows runtime returns) instead of wrapping.
#pragma once

#include <cstdint>

namespace corva {

int32_t atoiClamped(const char* text);

}  // namespace corva
