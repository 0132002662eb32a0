#include "prox/prox_report.h"
#include "prox/worn_filter.h"
#include "tests/fuzz/properties.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace corva::fuzz {

namespace {

using namespace corva::prox;

constexpr uint16_t kThreshold = 1500;
constexpr uint16_t kHysteresis = 100;

const char* checkNormalised(const uint8_t* buffer, size_t size, const Payload& p) {
    FUZZ_REQUIRE(p.size <= size);
    FUZZ_REQUIRE(p.data + p.size == buffer + size);  // always runs to the end of what was read
    const bool dropsId = size > 1 && buffer[0] == 0x00;
    FUZZ_REQUIRE(p.size == (dropsId ? size - 1 : size));
    FUZZ_REQUIRE(p.tag() == (p.size > 0 ? p.data[0] : 0));
    return nullptr;
}

const char* checkTelemetry(const Payload& p, bool decoded, const Telemetry& t) {
    FUZZ_REQUIRE(decoded == (p.size >= 6 && p.data[0] == '#'));
    if (!decoded) return nullptr;
    FUZZ_REQUIRE(t.proximity == p.data[4] * 256u + p.data[5]);
    FUZZ_REQUIRE(t.hasDstat == (p.size >= 26));
    FUZZ_REQUIRE(!t.hasDstat || t.dstat == p.data[24] * 256u + p.data[25]);
    return nullptr;
}

// True when the text holds no digit run long enough to overflow the C library's "%d".
bool shortNumbers(const std::string& text) {
    size_t run = 0;
    for (char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run > 6) return false;
    }
    return true;
}

const char* checkVersion(const Payload& p) {
    const std::string text = versionText(p);
    FUZZ_REQUIRE(text.size() + 1 <= p.size);  // p starts with the '*'
    FUZZ_REQUIRE(std::equal(text.begin(), text.end(), p.data + 1,
                            [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; }));
    // It stops at the first NUL or at the end of the payload, not before.
    FUZZ_REQUIRE(text.find('\0') == std::string::npos);
    FUZZ_REQUIRE(text.size() + 1 == p.size || p.data[text.size() + 1] == 0);
    const bool doze = firmwareSupportsDoze(text);
    FUZZ_REQUIRE(doze == firmwareSupportsDoze(text));
    if (shortNumbers(text)) {  // the documented rule, through the C library's own scanner
        int major = 0, minor = 0;
        const bool read = std::sscanf(text.c_str(), "%d.%d", &major, &minor) == 2;
        FUZZ_REQUIRE(doze == (read && (major > 0 || (major == 0 && minor >= 4))));
    }
    return nullptr;
}

const char* checkCommand(const uint8_t* buffer, size_t size) {
    const char command = static_cast<char>(size > 0 ? buffer[0] : 0);
    const uint16_t rate = size > 2 ? uint16_t(buffer[1] << 8 | buffer[2]) : 0;
    const CommandReport report = commandReport(command, rate);
    FUZZ_REQUIRE(report[0] == 0 && report[1] == static_cast<uint8_t>(command));
    const bool carriesRate = command == kCmdRate;
    FUZZ_REQUIRE(report[2] == (carriesRate ? rate >> 8 : 0));
    FUZZ_REQUIRE(report[3] == (carriesRate ? (rate & 0xFF) : 0));
    FUZZ_REQUIRE(std::all_of(report.begin() + 4, report.end(), [](uint8_t b) { return b == 0; }));
    return nullptr;
}

// The worn filter against its own ring of the last 8 readings: no change before the 8th
// reading, and afterwards a change only across the far edge of the hysteresis band.
struct WornModel {
    WornFilter filter;
    uint16_t last[8] = {};
    uint32_t count = 0;
    bool worn = false;

    const char* add(uint16_t reading) {
        last[count % 8] = reading;
        ++count;
        const bool next = filter.add(reading, worn, kThreshold, kHysteresis);
        FUZZ_REQUIRE(filter.readingsSinceRestart() == count);
        if (count < 8) {
            FUZZ_REQUIRE(next == worn);
            return nullptr;
        }
        uint32_t sum = 0;
        for (uint16_t r : last) sum += r;
        const uint32_t mean = sum / 8;
        FUZZ_REQUIRE(mean <= 0xFFFF);
        if (next && !worn) FUZZ_REQUIRE(mean >= kThreshold + kHysteresis);
        if (!next && worn) FUZZ_REQUIRE(mean <= kThreshold - kHysteresis);
        if (mean >= kThreshold + kHysteresis) FUZZ_REQUIRE(next);
        if (mean <= kThreshold - kHysteresis) FUZZ_REQUIRE(!next);
        worn = next;
        return nullptr;
    }
};

}  // namespace

// The input is a sequence of reads: a length byte (taken modulo one report plus one) and
// that many bytes, the last read cut short by the end of the input.
const char* checkProxReport(const uint8_t* data, size_t size) {
    WornModel model;
    size_t reads = 0;
    for (size_t at = 0; at < size; ++reads) {
        if (reads % 16 == 15) {  // a reconnection
            model.filter.restart();
            model.count = 0;
        }
        const size_t length = std::min<size_t>(data[at] % (kReportBytes + 1), size - at - 1);
        const uint8_t* buffer = data + at + 1;
        at += 1 + length;

        const Payload p = normaliseReport(buffer, length);
        if (const char* broken = checkNormalised(buffer, length, p)) return broken;
        Telemetry first, again;
        const bool decoded = decodeTelemetry(p, first);
        FUZZ_REQUIRE(decodeTelemetry(p, again) == decoded);
        FUZZ_REQUIRE(first.proximity == again.proximity && first.hasDstat == again.hasDstat &&
                     first.dstat == again.dstat);
        if (const char* broken = checkTelemetry(p, decoded, first)) return broken;
        if (decoded)
            if (const char* broken = model.add(first.proximity)) return broken;
        if (p.tag() == kVersionTag)
            if (const char* broken = checkVersion(p)) return broken;
        if (const char* broken = checkCommand(buffer, length)) return broken;
    }
    return nullptr;
}

}  // namespace corva::fuzz
