// Writes a whole line to standard output or standard error in one call to the system, past
// the C library's streams (whose unbuffered mode may write a character at a time), so that a
// line reaches the console or a file at once and lines of two threads never mix.
#pragma once

#include <cstddef>

namespace corva::platform {

enum class StdStream { Out, Err };

enum class WriteResult {
    Written,
    ReaderGone,  // the stream is a pipe whose reader has closed it (EPIPE; ERROR_NO_DATA, ERROR_BROKEN_PIPE)
    Failed,      // closed, full, or any other failure; `error` says which (errno)
};

// A partial write is continued. `error`, if given, receives errno of a failed write.
WriteResult writeWhole(StdStream stream, const char* data, size_t size, int* error = nullptr);

}  // namespace corva::platform
