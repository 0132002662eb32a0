// Writes a whole line to standard output or standard error in one call to the system, past
// the C library's streams (whose unbuffered mode may write a character at a time), so that a
// line reaches the console or a file at once and lines of two threads never mix.
#pragma once

#include <cstddef>

namespace corva::platform {

enum class StdStream { Out, Err };

// False when the stream is closed or the write failed; a partial write is continued.
bool writeWhole(StdStream stream, const char* data, size_t size);

}  // namespace corva::platform
