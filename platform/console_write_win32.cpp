#include "platform/console_write.h"

#include <climits>
#include <cstdio>
#include <io.h>

namespace corva::platform {

// The C runtime's low-level write keeps the stream's text mode (LF written as CRLF) and
// hands the line to the system in one WriteFile.
bool writeWhole(StdStream stream, const char* data, size_t size) {
    const int fd = _fileno(stream == StdStream::Err ? stderr : stdout);
    if (fd < 0) return false;
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        const int written = _write(fd, data, chunk);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace corva::platform
