#include "platform/std_streams.h"

#include <cstdio>
#include <io.h>

namespace corva::platform {
namespace {

bool gClosedAtStart[3] = {false, false, false};

}  // namespace

// The C runtime marks descriptors 0-2 as in use at start-up even when the process has no
// standard handle (they then fail every write), so no file it opens takes their place; and
// Windows has no SIGPIPE: a pipe without a reader fails the write (see writeWhole).
void keepStandardStreams() {
    FILE* streams[3] = {stdin, stdout, stderr};
    for (int i = 0; i < 3; ++i) {
        const int fd = _fileno(streams[i]);
        gClosedAtStart[i] = fd < 0 || _get_osfhandle(fd) < 0;
    }
}

bool wasClosedAtStart(StdStream stream) {
    return gClosedAtStart[stream == StdStream::Err ? 2 : 1];
}

}  // namespace corva::platform
