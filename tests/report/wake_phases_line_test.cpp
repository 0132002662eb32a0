// The wake-phase line as the program writes it and tessaray-report reads it back.
#include "app/wake_phases.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/line_classify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace corva {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kRequest = 1000 * kMs;

// The line as the program prints it.
std::string formatted(const WakePhaseTimes& t) {
    const WakePhaseFields f = wakePhaseFields(t);
    ::testing::internal::CaptureStdout();
    lines::print(lines::kWakePhases, f.react, f.mode, f.power, f.vblank, f.on);
    return ::testing::internal::GetCapturedStdout();
}

// The line with its five fields as they are written: each a time or "-", the last an interval.
std::string phasesLine(const char* react, const char* mode, const char* power, const char* vblank,
                       const char* on) {
    char text[256];
    std::snprintf(text, sizeof text, lines::kWakePhases.format(), react, mode, power, vblank, on);
    return text;
}

// The fields read back through the line's definition, as tessaray-report reads them.
struct ReadPhases {
    lines::OptionalMs react, mode, power, vblank;
    lines::OptionalMsInterval on;
};
bool readBack(const std::string& line, ReadPhases& out) {
    return lines::scan(lines::kWakePhases, line, out.react, out.mode, out.power, out.vblank, out.on) &&
           lines::classify(line).entry == &lines::entryOf(lines::LineId::WakePhases);
}

TEST(WakePhasesLine, WrittenAndReadBack) {
    struct Case {
        const char* what;
        WakePhaseTimes times;
        std::string line;
    };
    const Case cases[] = {
        {"park wake, every step",
         {kRequest, kRequest + 47 * kMs, kRequest + 47300000, kRequest + 48 * kMs, kRequest + 61250000,
          kRequest + 140 * kMs, kRequest + 190 * kMs},
         phasesLine("47.0", "47.3", "48.0", "61.2", "140.0..190.0")},
        {"doze wake: no mode set, no vertical blank of its own",
         {kRequest, kRequest + 20000, 0, kRequest + 400000, 0, kRequest + 93 * kMs, kRequest + 98 * kMs},
         phasesLine("0.0", "-", "0.4", "-", "93.0..98.0")},
        {"stamps of an earlier wake do not count; bounds rounded outward",
         {kRequest, kRequest - kMs, kRequest - kMs, kRequest - kMs, kRequest - kMs, kRequest + 100050000,
          kRequest + 105010000},
         phasesLine("-", "-", "-", "-", "100.0..105.1")},
        {"last off report before the request",
         {kRequest, 0, 0, 0, 0, kRequest - 2 * kMs, kRequest + 3 * kMs},
         phasesLine("-", "-", "-", "-", "-2.0..3.0")},
        {"no off report since the link came up: no interval",
         {kRequest, 0, 0, 0, 0, 0, kRequest + 90 * kMs},
         phasesLine("-", "-", "-", "-", "-")},
    };
    for (const Case& c : cases) {
        const std::string line = formatted(c.times);
        EXPECT_EQ(line, c.line) << c.what;
        ReadPhases read;
        ASSERT_TRUE(readBack(line, read)) << c.what;
        EXPECT_EQ(!read.mode.present, c.times.modeNs < kRequest) << c.what;
        EXPECT_EQ(read.on.present, c.times.onLoNs != 0) << c.what;
        if (read.on.present) {
            EXPECT_LE(read.on.lo * kMs, double(c.times.onLoNs - kRequest)) << c.what;
            EXPECT_GE(read.on.hi * kMs, double(c.times.onHiNs - kRequest)) << c.what;
        }
    }
    for (const std::string& bad :
         {phasesLine("1.0", "-", "-", "-", "5.0..4.0"), phasesLine("1.0", "-", "-", "-", "1.0"),
          phasesLine("x", "-", "-", "-", "-"), phasesLine("-1.0", "-", "-", "-", "-")}) {
        ReadPhases read;
        EXPECT_FALSE(readBack(bad, read)) << bad;
    }
}

}  // namespace
}  // namespace corva
