// Opening a file the program writes for the whole run (the frame trace). Only a regular
// file (or the null device) is taken: a FIFO, socket or device could hold the program in
// open() or in any later write for as long as the other end likes.
#pragma once

#include <cstdio>
#include <string>

namespace corva::platform {

// Opens (creates, truncates) `path` for binary writing without ever waiting. nullptr, with
// the reason in `error`, when it cannot be opened, is not a regular file, or is the file
// standard output or standard error writes to (checked before anything is truncated).
std::FILE* openRegularFileForWriting(const char* path, std::string& error);

inline constexpr const char* kNotARegularFile = "not a regular file";
inline constexpr const char* kSameAsStandardStream = "the same file as standard output or standard error";

}  // namespace corva::platform
