#include "report/log_text.h"

#include <algorithm>
#include <cstdio>

namespace corva::report {
namespace {

// How far into a file a control byte makes it "binary".
constexpr size_t kBinaryHeadBytes = 1024;

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(std::string_view bytes, bool littleEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) -> uint32_t {
        const auto lo = static_cast<unsigned char>(bytes[littleEndian ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(bytes[littleEndian ? i + 1 : i]);
        return static_cast<uint32_t>(hi << 8 | lo);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, cp);
    }
    return out;
}

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
size_t utf8Length(std::string_view text, size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// Odd bytes zero in most of the first pairs: UTF-16LE without a byte-order mark.
bool looksUtf16Le(std::string_view bytes) {
    const size_t pairs = std::min<size_t>(bytes.size() / 2, 256);
    if (pairs < 4) return false;
    size_t zeros = 0;
    for (size_t i = 0; i < pairs; ++i)
        if (bytes[2 * i + 1] == 0 && bytes[2 * i] != 0) ++zeros;
    return zeros * 10 >= pairs * 9;
}

// The program's em dash (UTF-8 E2 80 94) as a shell shows it after reading the bytes in a
// legacy code page and saving what it read: Windows PowerShell 5.1's `>` with the console's
// OEM code page 437 ("ΓÇö") or 850 ("ÔÇö"), or Windows-1252 ("â€”").
constexpr std::string_view kMisreadDashes[] = {"\xCE\x93\xC3\x87\xC3\xB6", "\xC3\x94\xC3\x87\xC3\xB6",
                                               "\xC3\xA2\xE2\x82\xAC\xE2\x80\x9D"};
constexpr std::string_view kEmDash = "\xE2\x80\x94";

// The text with each misread dash read as the dash, so a line matches the text it was printed
// from; empty when there is none.
std::string dashesRestored(std::string_view text) {
    std::string out;
    size_t copied = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\xCE' && text[at] != '\xC3') continue;  // the first byte of every form
        for (std::string_view dash : kMisreadDashes) {
            if (text.compare(at, dash.size(), dash) != 0) continue;
            out.append(text.substr(copied, at - copied)).append(kEmDash);
            copied = at + dash.size();
            at = copied - 1;
            break;
        }
    }
    if (copied == 0) return {};
    return out.append(text.substr(copied));
}

}  // namespace

LogText decodeLogBytes(std::string_view bytes) {
    LogText log;
    auto has = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (has("\xFF\xFE") || has("\xFE\xFF") || looksUtf16Le(bytes)) {
        const bool bom = has("\xFF\xFE") || has("\xFE\xFF");
        log.converted = utf16ToUtf8(bom ? bytes.substr(2) : bytes, !has("\xFE\xFF"));
        log.text = log.converted;
        log.encoding = has("\xFE\xFF") ? "UTF-16BE" : "UTF-16LE";
    } else {
        log.text = has("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
        log.encoding = "ASCII";
    }
    if (std::string restored = dashesRestored(log.text); !restored.empty()) {
        log.converted = std::move(restored);
        log.text = log.converted;
    }
    // Zero bytes after the text (a file preallocated, or cut short by a crash) are no part
    // of it.
    while (!log.text.empty() && log.text.back() == '\0') log.text.remove_suffix(1);
    // Control bytes other than tab, CR, LF and ESC do not occur in a console log: at its
    // head they say it is no text at all; further on they only spoil their own line.
    bool utf8 = false;
    bool legacy = false;
    const std::string_view text = log.text;
    size_t crs = 0;  // the head is measured without CRs: a log reads the same with either line end
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') ++crs;
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != 0x1B) {
            if (i - crs < kBinaryHeadBytes) {
                log.binary = true;
                break;
            }
            continue;
        }
        if (c < 0x80) continue;
        if (const size_t n = utf8Length(text, i); n > 0) {
            utf8 = true;
            i += n - 1;
        } else {
            legacy = true;
        }
    }
    if (log.encoding == "ASCII") log.encoding = legacy ? "legacy code page" : utf8 ? "UTF-8" : "ASCII";
    return log;
}

int64_t parseClock(std::string_view t) {
    if (t.size() < 12 || t[2] != ':' || t[5] != ':' || t[8] != '.') return -1;
    int digits[9];
    const int at[9] = {0, 1, 3, 4, 6, 7, 9, 10, 11};
    for (int k = 0; k < 9; ++k) {
        const char c = t[at[k]];
        if (c < '0' || c > '9') return -1;
        digits[k] = c - '0';
    }
    const int h = digits[0] * 10 + digits[1];
    const int m = digits[2] * 10 + digits[3];
    const int s = digits[4] * 10 + digits[5];
    if (h > 23 || m > 59 || s > 60) return -1;
    const int ms = digits[6] * 100 + digits[7] * 10 + digits[8];
    return ((static_cast<int64_t>(h) * 60 + m) * 60 + s) * 1000 + ms;
}

std::string formatClock(int64_t ms) {
    if (ms < 0) return "--:--:--.---";
    ms %= 86400000;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    return text;
}

}  // namespace corva::report
