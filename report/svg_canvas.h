// Writing SVG: escaped text, the few shapes the report draws, and axis ticks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "report/report_text.h"

namespace corva::report {

// Text for markup: the five characters of the syntax escaped, control characters (which
// XML does not allow) '?'. `keepUtf8` false (the SVG, whose logs may hold bytes of a legacy
// code page that are not UTF-8): bytes above 0x7F become '?', so the picture stays
// well-formed; true (the page, which says it is UTF-8): kept.
inline std::string escape(std::string_view text, bool keepUtf8 = false) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                const bool control = (byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7F;
                out += !control && (keepUtf8 || byte < 0x80) ? c : '?';
            }
        }
    }
    return out;
}

class Svg {
  public:
    void add(const char* format, ...) {
        va_list args;
        va_start(args, format);
        appendFormatV(out_, format, args);
        va_end(args);
    }
    void text(double x, double y, std::string_view text, const char* attributes = "") {
        add("<text x=\"%.1f\" y=\"%.1f\" %s>%s</text>\n", x, y, attributes, escape(text).c_str());
    }
    void line(double x1, double y1, double x2, double y2, const char* attributes) {
        add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" %s/>\n", x1, y1, x2, y2, attributes);
    }
    void rect(double x, double y, double w, double h, const char* attributes) {
        add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" %s/>\n", x, y, std::max(w, 0.0),
            std::max(h, 0.0), attributes);
    }
    std::string& raw() { return out_; }

  private:
    std::string out_;
};

inline std::string format(const char* f, double v) {
    char text[64];
    std::snprintf(text, sizeof text, f, v);
    return text;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about `count` ticks.
inline double niceStep(double span, int count) {
    if (span <= 0) return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

// A tick's label with the decimals its spacing needs: ticks 0.2 apart read "184.2 184.4",
// not "184 184".
inline std::string tickLabel(double value, double tick) {
    const int decimals = tick >= 1.0 ? 0 : std::min(6, int(std::ceil(-std::log10(tick) - 1e-9)));
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace corva::report
