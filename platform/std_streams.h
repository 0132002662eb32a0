// The standard streams as the program needs them from its first line: descriptors 0-2 are
// always the standard ones (a file the program opens never takes the place of a closed
// standard output), and a pipe whose reader has gone is a failed write, not a signal that
// ends the process.
#pragma once

#include "platform/console_write.h"

namespace corva::platform {

// Call first, before anything is opened: opens each closed standard descriptor on the null
// device (remembered, see wasClosedAtStart) and ignores SIGPIPE (Linux); on Windows the C
// runtime keeps descriptors 0-2 reserved even without a handle, so it only remembers them.
void keepStandardStreams();

// The stream had no descriptor (or handle) when keepStandardStreams ran: what is written to
// it goes nowhere.
bool wasClosedAtStart(StdStream stream);

}  // namespace corva::platform
