// Mode selection as a pure function: exact match (last one wins), tolerance, fallback to
// the fastest mode of the link format (earliest among equals), refusal, and the report.
#include "present/mode_select.h"
#include "tests/support/sample_lines.h"

#include "sim/driver/sim_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace corva {
namespace {

using sim::makeMode;

PresenterConfig request75() {
    return PresenterConfig{5088, 2544, 75.0, 22};
}

ModeChoice choose(const std::vector<NvDirectModeMode>& modes, const PresenterConfig& wanted = request75()) {
    return selectMode(wanted, modes.data(), modes.size());
}

struct Report {
    std::string out;
    std::string err;
};

Report report(const std::vector<NvDirectModeMode>& modes, const PresenterConfig& wanted = request75()) {
    const ModeChoice choice = selectMode(wanted, modes.data(), modes.size());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    reportModeChoice(wanted, modes.data(), modes.size(), choice);
    std::string err = testing::internal::GetCapturedStderr();
    return {testing::internal::GetCapturedStdout(), std::move(err)};
}

TEST(ModeSelect, ExactRateWinsOverFasterModeOfSameFormat) {
    const std::vector<NvDirectModeMode> modes = {makeMode(5088, 2544, 90, 1, 22),
                                                 makeMode(5088, 2544, 75000, 1000, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_FALSE(choice.fallback);
    EXPECT_EQ(choice.index, 1u);
    EXPECT_EQ(choice.refreshHz, 75.0);
    const Report text = report(modes);
    EXPECT_EQ(text.out,
              "mode[0]: 5088x2544 @ 90.000 Hz format=22\n"
              "mode[1]: 5088x2544 @ 75.000 Hz format=22\n");
    EXPECT_EQ(text.err, "");
}

TEST(ModeSelect, ExactMatchKeepsTheComputedRate) {
    // 74.9999 Hz, as a pixel clock would give it: within tolerance, reported as computed.
    const std::vector<NvDirectModeMode> modes = {makeMode(5088, 2544, 749999, 10000, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_FALSE(choice.fallback);
    EXPECT_DOUBLE_EQ(choice.refreshHz, 74.9999);
}

TEST(ModeSelect, LastOfSeveralExactMatchesIsSelected) {
    const std::vector<NvDirectModeMode> modes = {
        makeMode(5088, 2544, 75, 1, 22), makeMode(5088, 2544, 90, 1, 22), makeMode(5088, 2544, 7510, 100, 22),
        makeMode(1920, 1080, 75, 1, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_FALSE(choice.fallback);
    EXPECT_EQ(choice.index, 2u);
    EXPECT_DOUBLE_EQ(choice.refreshHz, 75.1);
}

TEST(ModeSelect, ToleranceIsStrictlyUnderHalfAHertz) {
    EXPECT_FALSE(choose({makeMode(5088, 2544, 754, 10, 22)}).fallback);  // 75.4: exact
    EXPECT_FALSE(choose({makeMode(5088, 2544, 746, 10, 22)}).fallback);  // 74.6: exact
    // 75.5 and 74.5 are not exact matches; the only mode of the format is used as fallback.
    for (uint32_t tenths : {755u, 745u}) {
        const ModeChoice choice = choose({makeMode(5088, 2544, tenths, 10, 22)});
        ASSERT_TRUE(choice.found);
        EXPECT_TRUE(choice.fallback) << tenths;
    }
}

TEST(ModeSelect, SizeAndFormatMustMatchExactly) {
    EXPECT_TRUE(choose({makeMode(5088, 2543, 75, 1, 22)}).fallback);
    EXPECT_TRUE(choose({makeMode(5087, 2544, 75, 1, 22)}).fallback);
    EXPECT_FALSE(choose({makeMode(5088, 2544, 75, 1, 19)}).found);
}

TEST(ModeSelect, FallbackTakesFastestModeOfLinkFormatWhateverItsSize) {
    const std::vector<NvDirectModeMode> modes = {
        makeMode(1920, 1080, 60, 1, 22), makeMode(5088, 2544, 90, 1, 22), makeMode(2544, 2544, 120, 1, 19),
        makeMode(2544, 1272, 72, 1, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_TRUE(choice.fallback);
    EXPECT_EQ(choice.index, 1u);
    EXPECT_EQ(choice.refreshHz, 90.0);
    const Report text = report(modes);
    EXPECT_EQ(text.out, std::string("mode[0]: 1920x1080 @ 60.000 Hz format=22\n"
                                    "mode[1]: 5088x2544 @ 90.000 Hz format=22\n"
                                    "mode[2]: 2544x2544 @ 120.000 Hz format=19\n"
                                    "mode[3]: 2544x1272 @ 72.000 Hz format=22\n") +
                            test::printed(lines::kModeFallback, 5088u, 2544u, 75.0, 5088u, 2544u, 90.0, 22));
    EXPECT_EQ(text.err, "");
}

TEST(ModeSelect, FallbackPrefersEarliestAmongEqualRates) {
    const std::vector<NvDirectModeMode> modes = {makeMode(1920, 1080, 60, 1, 22),
                                                 makeMode(2544, 2544, 90, 1, 22),
                                                 makeMode(5088, 2544, 90000, 1000, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_EQ(choice.index, 1u);
}

TEST(ModeSelect, ZeroDenominatorReadsZeroAndIsNeverSelected) {
    NvDirectModeMode broken = makeMode(5088, 2544, 75, 0, 22);
    EXPECT_EQ(modeRefreshHz(broken), 0.0);
    // Not as an exact match of a 0 Hz request, not as a fallback.
    EXPECT_FALSE(choose({broken}, PresenterConfig{5088, 2544, 0.0, 22}).found);
    const std::vector<NvDirectModeMode> modes = {broken, makeMode(1920, 1080, 60, 1, 22)};
    const ModeChoice choice = choose(modes);
    ASSERT_TRUE(choice.found);
    EXPECT_EQ(choice.index, 1u);
    EXPECT_EQ(report(modes).out.rfind("mode[0]: 5088x2544 @ 0.000 Hz format=22\n", 0), 0u);
}

TEST(ModeSelect, ZeroRateModeIsNoFallback) {
    EXPECT_FALSE(choose({makeMode(5088, 2544, 0, 1, 22)}).found);
}

TEST(ModeSelect, NoModeOfLinkFormatIsRefusedAfterTheFullList) {
    const std::vector<NvDirectModeMode> modes = {makeMode(5088, 2544, 75, 1, 19),
                                                 makeMode(5088, 2544, 90, 1, 19)};
    EXPECT_FALSE(choose(modes).found);
    const Report text = report(modes);
    EXPECT_EQ(text.out,
              "mode[0]: 5088x2544 @ 75.000 Hz format=19\n"
              "mode[1]: 5088x2544 @ 90.000 Hz format=19\n");
    EXPECT_EQ(text.err, test::printed(lines::kNoModeMatches, 5088u, 2544u, 75.0, 22));
}

TEST(ModeSelect, EmptyListIsRefused) {
    EXPECT_FALSE(choose({}).found);
    const Report text = report({});
    EXPECT_EQ(text.out, "");
    EXPECT_NE(text.err.find("refusing to guess"), std::string::npos);
}

TEST(ModeSelect, ForcedCompressionChangesOnlyItsFourFields) {
    const NvDirectModeMode original = makeMode(5088, 2544, 75, 1, 22);
    NvDirectModeMode forced = original;
    forceCompression(forced);
    EXPECT_EQ(forced.dscEnable, 1u);
    EXPECT_EQ(forced.dscVersion, 0x11u);
    EXPECT_EQ(forced.dscSlices, 4u);
    EXPECT_EQ(forced.dscBitsPerPixelX16, 128u);
    EXPECT_EQ(std::memcmp(&forced, &original, offsetof(NvDirectModeMode, dscEnable)), 0);
}

}  // namespace
}  // namespace corva
