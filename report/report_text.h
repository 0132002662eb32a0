// Text the report writes: formatted into strings that grow as needed (no output is cut by a
// buffer), and text from a log or a trace made safe for where it goes.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// printf-style arguments checked by GCC and Clang (MinGW's C library formats like glibc).
#if defined(__MINGW32__)
#define TESSARAY_PRINTF_LIKE(string, first) __attribute__((format(gnu_printf, string, first)))
#elif defined(__GNUC__)
#define TESSARAY_PRINTF_LIKE(string, first) __attribute__((format(printf, string, first)))
#else
#define TESSARAY_PRINTF_LIKE(string, first)
#endif

namespace corva::report {

// Appends printf-style text to `out`, however long.
void appendFormat(std::string& out, const char* format, ...) TESSARAY_PRINTF_LIKE(2, 3);
void appendFormatV(std::string& out, const char* format, va_list args);
std::string formatted(const char* format, ...) TESSARAY_PRINTF_LIKE(1, 2);

// Valid UTF-8 kept; every byte that is not part of a valid UTF-8 character becomes \xNN, so
// JSON and the page take the text as it is.
std::string utf8Escaped(std::string_view text);

// For a terminal: control characters (C0 but newline and tab, DEL, C1, and bytes 0x80-0x9F
// that are not part of a UTF-8 character) become \xNN; the rest is kept, so a log's line can
// no longer move the cursor, clear the screen or retitle the window. `keepNewlines` false: a
// newline is escaped too (text inside one line).
std::string terminalText(std::string_view text, bool keepNewlines = true);

}  // namespace corva::report
