#include "platform/console_write.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <string>
#include <windows.h>

namespace corva::platform {
namespace {

bool pipeReaderGone(unsigned long systemError) {
    return systemError == ERROR_NO_DATA || systemError == ERROR_BROKEN_PIPE ||
           systemError == ERROR_PIPE_NOT_CONNECTED;
}

// A console shows text in its own code page, which is also the parent shell's: changed, it
// stays changed after a killed run. The line goes as UTF-16 instead, whatever the code page.
WriteResult writeToConsole(HANDLE console, const char* data, size_t size, int* error) {
    std::wstring wide;
    if (size > 0 && size <= INT_MAX) {
        const int length = MultiByteToWideChar(CP_UTF8, 0, data, int(size), nullptr, 0);
        wide.resize(size_t(length > 0 ? length : 0));
        if (length > 0) MultiByteToWideChar(CP_UTF8, 0, data, int(size), wide.data(), length);
    }
    if (wide.empty() && size > 0) {
        if (error != nullptr) *error = EILSEQ;
        return WriteResult::Failed;
    }
    for (size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<size_t>(wide.size() - done, 16384));
        if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) {
            if (error != nullptr) *error = EIO;
            return WriteResult::Failed;
        }
        done += written;
    }
    return WriteResult::Written;
}

}  // namespace

// To a console: WriteConsoleW. Otherwise (a file, a pipe) the UTF-8 bytes: the C runtime's
// low-level write keeps the stream's text mode (LF written as CRLF) and hands the line to
// the system in one WriteFile.
WriteResult writeWhole(StdStream stream, const char* data, size_t size, int* error) {
    const int fd = _fileno(stream == StdStream::Err ? stderr : stdout);
    if (fd < 0) {
        if (error != nullptr) *error = EBADF;
        return WriteResult::Failed;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode))
        return writeToConsole(handle, data, size, error);
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
