#include "report/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "report/report_text.h"

namespace corva::report {
namespace {

int gOutError = 0;  // the first errno of a failed write to standard output

void writeOut(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && gOutError == 0)
        gOutError = errno != 0 ? errno : EIO;
}

}  // namespace

void say(std::string_view text) {
    writeOut(terminalText(text));
}

void sayFormat(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    appendFormatV(text, format, args);
    va_end(args);
    writeOut(terminalText(text));
}

void complain(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    appendFormatV(text, format, args);
    va_end(args);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const std::string line = "tessaray-report: " + terminalText(text, false) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

bool standardOutputWritten() {
    errno = 0;
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && gOutError == 0)
        gOutError = errno != 0 ? errno : EIO;
    if (gOutError == 0) return true;
    complain("cannot write to standard output: %s", std::strerror(gOutError));
    return false;
}

}  // namespace corva::report
