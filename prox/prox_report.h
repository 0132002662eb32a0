// The MCU's HID report formats: command feature reports, input-report normalisation and
// decoding, and the firmware version rule for the doze command. Pure code, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace corva::prox {

constexpr uint16_t kVendorId = 0x35BD;
constexpr uint16_t kProductId = 0x0101;
constexpr size_t kReportBytes = 65;  // report id + 64 bytes, for commands and input reads

constexpr char kCmdRate = 'R';
constexpr char kCmdVersion = '*';
constexpr char kCmdBypassOn = 'p';
constexpr char kCmdBypassOff = '[';
constexpr char kCmdDoze = 'H';
constexpr char kCmdWake = 'h';

constexpr uint8_t kTelemetryTag = '#';
constexpr uint8_t kRateAckTag = '$';
constexpr uint8_t kVersionTag = '*';

using CommandReport = std::array<uint8_t, kReportBytes>;

// Report id 0, the command character, then (rate command only) the big-endian interval.
CommandReport commandReport(char command, uint16_t rateMs = 0);

// An input report without its report id.
struct Payload {
    const uint8_t* data = nullptr;
    size_t size = 0;
    // The first payload character, 0 for an empty payload.
    uint8_t tag() const { return size > 0 ? data[0] : 0; }
};

// A leading 0x00 is the report id and is dropped, but only when more than one byte was
// read: a lone 0x00 is the payload itself.
Payload normaliseReport(const uint8_t* buffer, size_t bytesRead);

struct Telemetry {
    uint16_t proximity = 0;
    bool hasDstat = false;
    uint16_t dstat = 0;
};

// True for a telemetry report: '#' and at least 6 payload bytes. The display-status word
// comes only with 26 bytes or more.
bool decodeTelemetry(const Payload& payload, Telemetry& out);

// The text after the '*' of a version reply, up to the first NUL or the end of the payload.
std::string versionText(const Payload& payload);

// "%d.%d" with a major above 0, or major 0 and minor 4 or more, supports doze.
bool firmwareSupportsDoze(const std::string& firmware);

}  // namespace corva::prox
