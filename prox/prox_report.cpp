#include "prox/prox_report.h"

#include <cctype>

namespace corva::prox {

namespace {

uint16_t bigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

// One "%d" conversion: optional white space, an optional sign, at least one digit. Values
// saturate instead of overflowing; only their sign and small sizes matter here.
bool scanInt(const char*& text, long& value) {
    const char* p = text;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        if (magnitude < 1000000) magnitude = magnitude * 10 + (*p - '0');
    value = negative ? -magnitude : magnitude;
    text = p;
    return true;
}

}  // namespace

CommandReport commandReport(char command, uint16_t rateMs) {
    CommandReport report{};
    report[1] = static_cast<uint8_t>(command);
    if (command == kCmdRate) {
        report[2] = static_cast<uint8_t>(rateMs >> 8);
        report[3] = static_cast<uint8_t>(rateMs & 0xFF);
    }
    return report;
}

Payload normaliseReport(const uint8_t* buffer, size_t bytesRead) {
    if (bytesRead > 1 && buffer[0] == 0x00) return {buffer + 1, bytesRead - 1};
    return {buffer, bytesRead};
}

bool decodeTelemetry(const Payload& payload, Telemetry& out) {
    if (payload.size < 6 || payload.tag() != kTelemetryTag) return false;
    out.proximity = bigEndian16(payload.data + 4);
    out.hasDstat = payload.size >= 26;
    out.dstat = out.hasDstat ? bigEndian16(payload.data + 24) : 0;
    return true;
}

std::string versionText(const Payload& payload) {
    std::string text;
    for (size_t i = 1; i < payload.size && payload.data[i] != 0; ++i)
        text.push_back(static_cast<char>(payload.data[i]));
    return text;
}

bool firmwareSupportsDoze(const std::string& firmware) {
    const char* text = firmware.c_str();
    long major = 0, minor = 0;
    if (!scanInt(text, major) || *text++ != '.' || !scanInt(text, minor)) return false;
    return major > 0 || (major == 0 && minor >= 4);
}

}  // namespace corva::prox
