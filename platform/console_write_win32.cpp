#include "platform/console_write.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <windows.h>

namespace corva::platform {
namespace {

bool pipeReaderGone(unsigned long systemError) {
    return systemError == ERROR_NO_DATA || systemError == ERROR_BROKEN_PIPE ||
           systemError == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

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
        SetLastError(ERROR_SUCCESS);
        const int written = _write(fd, data, chunk);
        const DWORD lastError = GetLastError();
        if (written <= 0) {
            const int why = written < 0 && errno != 0 ? errno : EIO;
            if (error != nullptr) *error = why;
            // A pipe whose reading end is closed: WriteFile fails with ERROR_NO_DATA ("being
            // closed"), ERROR_BROKEN_PIPE or (Wine) ERROR_PIPE_NOT_CONNECTED, which runtimes
            // report as EPIPE, or as EINVAL with the system's code in _doserrno.
            const bool readerGone = why == EPIPE || pipeReaderGone(static_cast<unsigned long>(_doserrno)) ||
                                    pipeReaderGone(lastError);
            return readerGone ? WriteResult::ReaderGone : WriteResult::Failed;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return WriteResult::Written;
}

}  // namespace corva::platform
