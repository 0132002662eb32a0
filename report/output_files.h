// Writing the report's output files without ever waiting for a reader and without leaving a
// part behind: a file is written beside its place and renamed there once complete; a pipe
// or a device (standard output by its name) is written directly, and only when someone reads.
#pragma once

#include <string>
#include <string_view>

namespace corva::report {

enum class OutputWrite { Written, NoReader, Failed };

// `reason` says why when not written.
OutputWrite writeOutputFile(const std::string& path, std::string_view text, std::string& reason);

// The two paths name one file (device and inode, through links); "-" is standard input.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace corva::report
