#include "platform/std_streams.h"

#include <windows.h>

namespace corva::platform {
namespace {

bool gClosedAtStart[3] = {false, false, false};

}  // namespace

// The C runtime marks descriptors 0-2 as in use at start-up even when the process has no
// standard handle (they then fail every write), so no file it opens takes their place; and
// Windows has no SIGPIPE: a pipe without a reader fails the write (see writeWhole).
void keepStandardStreams() {
    const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const HANDLE handle = GetStdHandle(ids[i]);
        gClosedAtStart[i] = handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
}

bool wasClosedAtStart(StdStream stream) {
    return gClosedAtStart[stream == StdStream::Err ? 2 : 1];
}

}  // namespace corva::platform
