#include "platform/console_write.h"

#include <cerrno>
#include <unistd.h>

namespace corva::platform {

bool writeWhole(StdStream stream, const char* data, size_t size) {
    const int fd = stream == StdStream::Err ? STDERR_FILENO : STDOUT_FILENO;
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace corva::platform
