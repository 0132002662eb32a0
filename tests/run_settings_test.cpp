#include "app/atoi_clamped.h"
#include "app/run_settings.h"

#include <gtest/gtest.h>

#include <vector>

namespace corva {
namespace {

RunSettings parse(std::vector<const char*> args) {
    return parseCommandLine(int(args.size()), args.data());
}

TEST(RunSettings, PlainRunLengths) {
    EXPECT_DOUBLE_EQ(parse({}).runSeconds, 10.0);
    EXPECT_FALSE(parse({}).benchmark);
    EXPECT_DOUBLE_EQ(parse({"5"}).runSeconds, 5.0);
    EXPECT_DOUBLE_EQ(parse({"30"}).runSeconds, 30.0);
    EXPECT_DOUBLE_EQ(parse({"2.5"}).runSeconds, 2.5);
    EXPECT_DOUBLE_EQ(parse({"12abc"}).runSeconds, 12.0);  // numeric prefix, as atof
    for (const char* odd : {"0", "-1", "31", "word", "", "1e9", "nan", "-nan", "inf"})
        EXPECT_DOUBLE_EQ(parse({odd}).runSeconds, 30.0) << odd;
}

TEST(RunSettings, ModeWordsAreCaseSensitiveAndExact) {
    for (const char* notMode : {"Cycle", "DOZE", "cycles", " cycle", "doze "}) {
        const RunSettings s = parse({notMode, "2"});
        EXPECT_FALSE(s.benchmark) << notMode;
        EXPECT_FALSE(s.doze) << notMode;
        EXPECT_DOUBLE_EQ(s.runSeconds, 30.0) << notMode;
    }
    EXPECT_TRUE(parse({"doze"}).doze);
    EXPECT_TRUE(parse({"doze"}).benchmark);
    EXPECT_TRUE(parse({"cycle"}).benchmark);
    EXPECT_FALSE(parse({"cycle"}).doze);
}

TEST(RunSettings, CycleDefaults) {
    const RunSettings s = parse({"cycle"});
    EXPECT_EQ(s.cycles, 3);
    EXPECT_DOUBLE_EQ(s.activeSeconds, 2.0);
    EXPECT_DOUBLE_EQ(s.holdSeconds, 3.0);
    EXPECT_DOUBLE_EQ(s.runSeconds, 32.0);
}

TEST(RunSettings, CycleCountIsClampedAndParsedAsAtoi) {
    EXPECT_EQ(parse({"cycle", "0"}).cycles, 1);
    EXPECT_EQ(parse({"cycle", "-4"}).cycles, 1);
    EXPECT_EQ(parse({"cycle", "50"}).cycles, 10);
    EXPECT_EQ(parse({"cycle", "word"}).cycles, 1);
    EXPECT_EQ(parse({"cycle", "3.7"}).cycles, 3);
    EXPECT_EQ(parse({"cycle", "  +7x"}).cycles, 7);
}

// Beyond the 32-bit range the count clamps to the nearer limit (as the Windows runtime's
// atoi does), never wraps: 4294967297 would wrap to 1.
TEST(RunSettings, CycleCountsBeyondTheIntegerRangeClampTowardsTheNearerLimit) {
    const struct {
        const char* text;
        int32_t atoi;
        int32_t cycles;
    } cases[] = {
        {"4294967297", 2147483647, 10},
        {"2147483647", 2147483647, 10},
        {"2147483648", 2147483647, 10},
        {"99999999999999999999999", 2147483647, 10},
        {"-2147483648", -2147483647 - 1, 1},
        {"-2147483649", -2147483647 - 1, 1},
        {"-4294967295", -2147483647 - 1, 1},
        {" \t-0012x", -12, 1},
        {"+-3", 0, 1},
        {"", 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(atoiClamped(c.text), c.atoi) << c.text;
        EXPECT_EQ(parse({"cycle", c.text}).cycles, c.cycles) << c.text;
    }
}

// Both builds read the same text the same way: decimal only, whatever the C runtime does
// with hexadecimal, infinity or NaN.
TEST(RunSettings, SecondsAreDecimalOnBothBuilds) {
    const struct {
        const char* text;
        double value;
        double plainSeconds;
    } cases[] = {
        {"0x2", 0.0, 30.0}, {"2.5x", 2.5, 2.5}, {" \t3", 3.0, 3.0}, {".5", 0.5, 0.5},   {"1e1", 10.0, 10.0},
        {"1e", 1.0, 1.0},   {"-.", 0.0, 30.0},  {"inf", 0.0, 30.0}, {"nan", 0.0, 30.0}, {"+4.", 4.0, 4.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(atofDecimal(c.text), c.value) << c.text;
        EXPECT_DOUBLE_EQ(parse({c.text}).runSeconds, c.plainSeconds) << c.text;
    }
    EXPECT_DOUBLE_EQ(parse({"cycle", "1", "0x2", "0x1"}).activeSeconds, 2.0);
}

TEST(RunSettings, OutOfRangeTimesFallBackToDefaultsNotBounds) {
    const RunSettings s = parse({"cycle", "2", "0.2", "25"});
    EXPECT_DOUBLE_EQ(s.activeSeconds, 2.0);
    EXPECT_DOUBLE_EQ(s.holdSeconds, 3.0);
    EXPECT_DOUBLE_EQ(s.runSeconds, 23.0);

    const RunSettings nans = parse({"cycle", "1", "nan", "nan"});
    EXPECT_DOUBLE_EQ(nans.activeSeconds, 2.0);
    EXPECT_DOUBLE_EQ(nans.holdSeconds, 3.0);
}

TEST(RunSettings, BoundsAreAcceptedUnchanged) {
    const RunSettings low = parse({"cycle", "1", "0.5", "0.5"});
    EXPECT_DOUBLE_EQ(low.activeSeconds, 0.5);
    EXPECT_DOUBLE_EQ(low.holdSeconds, 0.5);
    EXPECT_DOUBLE_EQ(low.runSeconds, 10.0);
    const RunSettings high = parse({"cycle", "10", "10", "20"});
    EXPECT_DOUBLE_EQ(high.activeSeconds, 10.0);
    EXPECT_DOUBLE_EQ(high.holdSeconds, 20.0);
    EXPECT_DOUBLE_EQ(high.runSeconds, 345.0);
    EXPECT_DOUBLE_EQ(parse({"cycle", "2", "10", "20"}).runSeconds, 73.0);
}

TEST(RunSettings, DozeTakesTheSameArguments) {
    const RunSettings s = parse({"doze", "4", "1.5"});
    EXPECT_TRUE(s.doze);
    EXPECT_EQ(s.cycles, 4);
    EXPECT_DOUBLE_EQ(s.activeSeconds, 1.5);
    EXPECT_DOUBLE_EQ(s.holdSeconds, 3.0);
    EXPECT_DOUBLE_EQ(s.runSeconds, 39.0);
}

TEST(RunSettings, ArgumentsAfterTheLastAreIgnored) {
    EXPECT_DOUBLE_EQ(parse({"7", "cycle", "x"}).runSeconds, 7.0);
    EXPECT_EQ(parse({"cycle", "2", "1", "1", "99"}).cycles, 2);
}

}  // namespace
}  // namespace corva
