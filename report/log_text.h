// Turns the bytes of a saved log into lines: byte-order marks, UTF-16 (what a Windows
// shell's redirection may write), CRLF or LF, and the time stamps every marker carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corva::report {

// Text in UTF-8 (or the legacy code page's bytes, left as they are) and what it was.
struct LogText {
    std::string converted;  // only filled when the input had to be converted
    std::string_view text;  // the text to split into lines
    std::string encoding;
    bool binary = false;  // NUL bytes or other control bytes at its head: not a text file
};

LogText decodeLogBytes(std::string_view bytes);

// Calls onLine(line, number) for each line, without its LF or CRLF; numbers count from 1.
template <typename OnLine>
void forEachLine(std::string_view text, OnLine&& onLine) {
    size_t number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        onLine(line, ++number);
        start = end + 1;
    }
}

// "hh:mm:ss.mmm" at the start of text: milliseconds of the day, or -1.
int64_t parseClock(std::string_view text);

// "hh:mm:ss.mmm" from milliseconds (of any day: the day is dropped).
std::string formatClock(int64_t ms);

}  // namespace corva::report
