// Properties that must hold for any input to the parsers that take untrusted bytes: MCU
// reports, the command line, scenario text and saved logs. The libFuzzer targets abort on a broken
// property; the regular suite replays the stored corpus and crash inputs through the same
// checks, so it needs no clang.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::fuzz {

// Each check returns the text of the first broken property, or nullptr when all hold.
using PropertyCheck = const char* (*)(const uint8_t* data, size_t size);

// The bytes of one or more input reports, as read from the device, fed through the decoder
// and the worn filter.
const char* checkProxReport(const uint8_t* data, size_t size);
// NUL-separated command-line arguments.
const char* checkRunSettings(const uint8_t* data, size_t size);
// Scenario text for the simulated headset.
const char* checkScenario(const uint8_t* data, size_t size);
// The bytes of a saved log, as tessaray-report reads them.
const char* checkReportLog(const uint8_t* data, size_t size);

}  // namespace corva::fuzz

// Returns the property's own text from the enclosing check when it does not hold.
#define FUZZ_REQUIRE(property)             \
    do {                                   \
        if (!(property)) return #property; \
    } while (0)
