#include "platform/line_output.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/console_write.h"

namespace corva::platform {
namespace {

constexpr size_t kLineBytes = 512;  // as the printer's lines: a longer one is cut, still a line

std::atomic<LineOutput> gOutput{nullptr};

}  // namespace

void setLineOutput(LineOutput output) {
    gOutput.store(output);
}

void printLineFormatted(lines::Stream stream, const char* format, ...) {
    char text[kLineBytes];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n <= 0) return;
    size_t size = static_cast<size_t>(n);
    if (size >= sizeof text) {
        size = sizeof text - 1;
        text[size - 1] = '\n';
    }
    if (const LineOutput output = gOutput.load(); output != nullptr)
        output(stream, text, size);
    else
        writeWhole(stream == lines::Stream::Err ? StdStream::Err : StdStream::Out, text, size);
}

}  // namespace corva::platform
