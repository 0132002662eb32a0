#include "platform/console_write.h"

#include <cerrno>
#include <unistd.h>

namespace corva::platform {

WriteResult writeWhole(StdStream stream, const char* data, size_t size, int* error) {
    const int fd = stream == StdStream::Err ? STDERR_FILENO : STDOUT_FILENO;
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const int why = written < 0 ? errno : EIO;
            if (error != nullptr) *error = why;
            return why == EPIPE ? WriteResult::ReaderGone : WriteResult::Failed;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return WriteResult::Written;
}

}  // namespace corva::platform
