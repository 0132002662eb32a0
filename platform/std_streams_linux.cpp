#include "platform/std_streams.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace corva::platform {
namespace {

bool gClosedAtStart[3] = {false, false, false};

}  // namespace

void keepStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free descriptor: this one, as the lower ones are open.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
        gClosedAtStart[fd] = true;
    }
    // A write to a pipe without a reader then fails with EPIPE, which the printer handles.
    std::signal(SIGPIPE, SIG_IGN);
}

bool wasClosedAtStart(StdStream stream) {
    return gClosedAtStart[stream == StdStream::Err ? 2 : 1];
}

}  // namespace corva::platform
