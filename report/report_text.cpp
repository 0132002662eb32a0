#include "report/report_text.h"

#include <cstdio>

namespace corva::report {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscapedByte(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// The code point of the well-formed UTF-8 character at text[i] (no overlong form, no
// surrogate, at most U+10FFFF) and its length; length 0 when there is none.
size_t utf8Character(std::string_view text, size_t i, unsigned& codePoint) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned min = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (next & 0x3Fu);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint < 0xE000)) return 0;
    return length;
}

}  // namespace

void appendFormatV(std::string& out, const char* format, va_list args) {
    char small[256];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
    } else if (n > 0) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[at], static_cast<size_t>(n) + 1, format, again);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

void appendFormat(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendFormatV(out, format, args);
    va_end(args);
}

std::string formatted(const char* format, ...) {
    std::string out;
    va_list args;
    va_start(args, format);
    appendFormatV(out, format, args);
    va_end(args);
    return out;
}

std::string utf8Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned codePoint = 0;
        if (const size_t n = utf8Character(text, i, codePoint); n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            appendEscapedByte(out, static_cast<unsigned char>(text[i++]));
        }
    }
    return out;
}

std::string terminalText(std::string_view text, bool keepNewlines) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned codePoint = 0;
        const size_t n = utf8Character(text, i, codePoint);
        const bool control =
            n > 0 && ((codePoint < 0x20 && codePoint != '\t' && !(codePoint == '\n' && keepNewlines)) ||
                      (codePoint >= 0x7F && codePoint < 0xA0));
        const auto byte = static_cast<unsigned char>(text[i]);
        if (n == 0 && byte >= 0xA0) {  // a legacy code page's letter: kept as it was
            out += text[i++];
        } else if (n == 0 || control) {
            for (size_t k = 0; k < (n == 0 ? 1 : n); ++k)
                appendEscapedByte(out, static_cast<unsigned char>(text[i + k]));
            i += n == 0 ? 1 : n;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace corva::report
