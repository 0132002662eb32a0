// Opening a file the program writes for the whole run (the frame trace). Only a regular
// file (or the null device) is taken: a FIFO, socket or device could hold the program in
// open() or in any later write for as long as the other end likes.
#pragma once

#include <cstdio>
#include <string>

namespace corva::platform {

// Opens (creates, truncates) `path` for binary writing without ever waiting. nullptr, with
// the reason in `error`, when it cannot be opened or is not a regular file.
std::FILE* openRegularFileForWriting(const char* path, std::string& error);

inline constexpr const char* kNotARegularFile = "not a regular file";

}  // namespace corva::platform
