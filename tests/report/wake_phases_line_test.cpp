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
        const char* line;
    };
    const Case cases[] = {
        {"park wake, every step",
         {kRequest, kRequest + 47 * kMs, kRequest + 47300000, kRequest + 48 * kMs, kRequest + 61250000,
          kRequest + 140 * kMs, kRequest + 190 * kMs},
         "WAKE_PHASES react=47.0 mode=47.3 power=48.0 vblank=61.2 on=140.0..190.0 ms\n"},
        {"doze wake: no mode set, no vertical blank of its own",
         {kRequest, kRequest + 20000, 0, kRequest + 400000, 0, kRequest + 93 * kMs, kRequest + 98 * kMs},
         "WAKE_PHASES react=0.0 mode=- power=0.4 vblank=- on=93.0..98.0 ms\n"},
        {"stamps of an earlier wake do not count; bounds rounded outward",
         {kRequest, kRequest - kMs, kRequest - kMs, kRequest - kMs, kRequest - kMs, kRequest + 100050000,
          kRequest + 105010000},
         "WAKE_PHASES react=- mode=- power=- vblank=- on=100.0..105.1 ms\n"},
        {"last off report before the request",
         {kRequest, 0, 0, 0, 0, kRequest - 2 * kMs, kRequest + 3 * kMs},
         "WAKE_PHASES react=- mode=- power=- vblank=- on=-2.0..3.0 ms\n"},
        {"no off report since the link came up: no interval",
         {kRequest, 0, 0, 0, 0, 0, kRequest + 90 * kMs},
         "WAKE_PHASES react=- mode=- power=- vblank=- on=- ms\n"},
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
    for (const char* bad : {"WAKE_PHASES react=1.0 mode=- power=- vblank=- on=5.0..4.0 ms",
                            "WAKE_PHASES react=1.0 mode=- power=- vblank=- on=1.0 ms",
                            "WAKE_PHASES react=x mode=- power=- vblank=- on=- ms",
                            "WAKE_PHASES react=-1.0 mode=- power=- vblank=- on=- ms"}) {
        ReadPhases read;
        EXPECT_FALSE(readBack(bad, read)) << bad;
    }
}

}  // namespace
}  // namespace corva
