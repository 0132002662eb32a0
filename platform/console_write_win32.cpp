#include "platform/console_write.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <windows.h>

namespace corva::platform {

// The C runtime's low-level write keeps the stream's text mode (LF written as CRLF) and
// hands the line to the system in one WriteFile.
WriteResult writeWhole(StdStream stream, const char* data, size_t size, int* error) {
    const int fd = _fileno(stream == StdStream::Err ? stderr : stdout);
    if (fd < 0) {
        if (error != nullptr) *error = EBADF;
        return WriteResult::Failed;
    }
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        errno = 0;
        _doserrno = 0;
        const int written = _write(fd, data, chunk);
        if (written <= 0) {
            const int why = written < 0 && errno != 0 ? errno : EIO;
            if (error != nullptr) *error = why;
            // A pipe whose reading end is closed: ERROR_NO_DATA ("being closed") or
            // ERROR_BROKEN_PIPE, which the runtime reports as EPIPE or keeps in _doserrno.
            const unsigned long system = static_cast<unsigned long>(_doserrno);
            const bool readerGone = why == EPIPE || system == ERROR_NO_DATA || system == ERROR_BROKEN_PIPE;
            return readerGone ? WriteResult::ReaderGone : WriteResult::Failed;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return WriteResult::Written;
}

}  // namespace corva::platform
