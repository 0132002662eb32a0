#include "sim/headset/headset.h"

#include <gtest/gtest.h>

#include <optional>

namespace corva::sim {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kT0 = 1000 * kMs;

// The time the displays first show `on` after `fromNs`, scanning in 1 ms steps.
std::optional<int64_t> whenDisplays(const Headset& h, bool on, int64_t fromNs, int64_t untilNs) {
    for (int64_t t = fromNs; t <= untilNs; t += kMs)
        if (h.displaysOnAt(t) == on) return t;
    return std::nullopt;
}

TEST(Headset, PanelsComeOnAndGoOffAfterJitteredTransitionTimes) {
    Headset h;
    EXPECT_EQ(h.dstatAt(kT0), 0x0002);  // dark, proximity sensing on
    int64_t t = kT0;
    int64_t shortestOn = INT64_MAX, longestOn = 0;
    for (int i = 0; i < 20; ++i) {
        h.panelPower(true, true, t);
        const auto on = whenDisplays(h, true, t, t + 200 * kMs);
        ASSERT_TRUE(on.has_value());
        shortestOn = std::min(shortestOn, *on - t);
        longestOn = std::max(longestOn, *on - t);
        EXPECT_EQ(h.dstatAt(*on), 0x000b);  // on, sensing, compression
        t = *on + 500 * kMs;
        h.panelPower(false, false, t);
        const auto off = whenDisplays(h, false, t, t + 200 * kMs);
        ASSERT_TRUE(off.has_value());
        EXPECT_GE(*off - t, 20 * kMs);
        EXPECT_LE(*off - t, 40 * kMs);
        EXPECT_EQ(h.dstatAt(*off), 0x0002);
        t = *off + 500 * kMs;
    }
    EXPECT_GE(shortestOn, 80 * kMs);
    EXPECT_LE(longestOn, 120 * kMs);
    EXPECT_LT(shortestOn + 5 * kMs, longestOn) << "no jitter";

    const auto transitions = h.transitions();
    ASSERT_EQ(transitions.size(), 40u);
    for (size_t i = 0; i < transitions.size(); ++i) {
        EXPECT_EQ(transitions[i].on, i % 2 == 0);
        EXPECT_EQ(transitions[i].cause, HeadsetInput::PanelPower);
        EXPECT_LT(transitions[i].requestNs, transitions[i].visibleNs);
    }
}

TEST(Headset, UncompressedModeLeavesBitThreeClear) {
    Headset h;
    h.panelPower(true, false, kT0);
    EXPECT_EQ(h.dstatAt(kT0 + 200 * kMs), 0x0003);
}

TEST(Headset, DozeTurnsTheDisplaysOffAndWakeBringsThemBack) {
    Headset h;
    h.panelPower(true, false, kT0);
    h.doze(true, kT0 + 500 * kMs);
    EXPECT_TRUE(h.displaysOnAt(kT0 + 519 * kMs));
    EXPECT_FALSE(h.displaysOnAt(kT0 + 541 * kMs));
    h.doze(false, kT0 + 1000 * kMs);
    EXPECT_FALSE(h.displaysOnAt(kT0 + 1079 * kMs));
    EXPECT_TRUE(h.displaysOnAt(kT0 + 1121 * kMs));
    const auto transitions = h.transitions();
    ASSERT_EQ(transitions.size(), 3u);
    EXPECT_EQ(transitions[1].cause, HeadsetInput::Doze);
    EXPECT_EQ(transitions[2].cause, HeadsetInput::Doze);
    // Past answers do not change when later inputs arrive.
    EXPECT_TRUE(h.displaysOnAt(kT0 + 519 * kMs));
}

TEST(Headset, TakenOffWithoutTheBypassBlanksThePanels) {
    Headset h;
    std::vector<bool> blanks;
    h.setBlankListener([&](bool blanked) { blanks.push_back(blanked); });
    h.panelPower(true, false, kT0);
    h.setWorn(false, kT0 + 500 * kMs);
    EXPECT_TRUE(h.blankedByWear());
    EXPECT_FALSE(h.displaysOnAt(kT0 + 541 * kMs));
    EXPECT_LT(h.proximityReading(0), 1400);
    h.setWorn(true, kT0 + 1000 * kMs);
    EXPECT_TRUE(h.displaysOnAt(kT0 + 1121 * kMs));
    EXPECT_GE(h.proximityReading(0), 1600);
    EXPECT_EQ(blanks, (std::vector<bool>{true, false}));
    EXPECT_EQ(h.transitions().back().cause, HeadsetInput::Wear);
}

TEST(Headset, TheBypassKeepsTheDisplaysOnUntilItIsLiftedOrTheMcuRestarts) {
    Headset h;
    std::vector<bool> blanks;
    h.setBlankListener([&](bool blanked) { blanks.push_back(blanked); });
    h.bypass(true, kT0);
    h.panelPower(true, false, kT0);
    h.setWorn(false, kT0 + 500 * kMs);
    EXPECT_FALSE(h.blankedByWear());
    EXPECT_TRUE(h.displaysOnAt(kT0 + 900 * kMs));
    EXPECT_TRUE(blanks.empty());
    h.mcuPoweredUp(kT0 + 1000 * kMs);  // replugged: bypass off, the headset is still off the head
    EXPECT_TRUE(h.blankedByWear());
    EXPECT_FALSE(h.displaysOnAt(kT0 + 1041 * kMs));
    EXPECT_EQ(blanks, (std::vector<bool>{true}));
}

TEST(Headset, AWakeCancelledBeforeItShowsLeavesNoTransition) {
    Headset h;
    h.panelPower(true, false, kT0);
    h.panelPower(false, false, kT0 + 30 * kMs);  // within the 80 ms the panels need
    for (int64_t t = kT0; t < kT0 + 300 * kMs; t += kMs) ASSERT_FALSE(h.displaysOnAt(t));
    EXPECT_TRUE(h.transitions().empty());
    // An input that does not change what is wanted does not restart a transition under way.
    h.panelPower(true, false, kT0 + 400 * kMs);
    h.bypass(true, kT0 + 450 * kMs);
    EXPECT_TRUE(h.displaysOnAt(kT0 + 521 * kMs));
    EXPECT_EQ(h.transitions().size(), 1u);
}

TEST(Headset, RecordsTheFirstReportAndEachWakeStampOnce) {
    Headset h;
    int64_t stamp = 0;
    h.setWakeStampSource([&] { return stamp; });
    h.panelPower(true, false, kT0);  // no stamp pending: initialisation
    for (int64_t t = kT0; t < kT0 + 300 * kMs; t += 50 * kMs) h.telemetryDstat(t);
    h.panelPower(false, false, kT0 + 300 * kMs);
    stamp = kT0 + 390 * kMs;
    h.panelPower(true, false, kT0 + 400 * kMs);
    for (int64_t t = kT0 + 300 * kMs; t < kT0 + 700 * kMs; t += 50 * kMs) h.telemetryDstat(t);
    h.setWorn(false, kT0 + 700 * kMs);
    h.setWorn(true, kT0 + 800 * kMs);  // the stamp is still there, but already used

    const auto tr = h.transitions();
    ASSERT_EQ(tr.size(), 5u);
    // Reports every 50 ms from kT0: the first one at or after each change.
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(tr[i].firstReportNs, tr[i].visibleNs) << i;
        EXPECT_LT(tr[i].firstReportNs, tr[i].visibleNs + 50 * kMs) << i;
        EXPECT_EQ((tr[i].firstReportNs - kT0) % (50 * kMs), 0) << i;
    }
    EXPECT_EQ(tr[0].wakeStampNs, 0);
    EXPECT_EQ(tr[2].wakeStampNs, stamp);
    EXPECT_EQ(tr[3].firstReportNs, 0);  // no report after it
    EXPECT_EQ(tr[4].wakeStampNs, 0);
}

TEST(Headset, KeepsABoundedHistory) {
    Headset h;
    int64_t t = kT0;
    for (size_t i = 0; i < Headset::kMaxTransitions + 10; ++i, t += 200 * kMs)
        h.panelPower(i % 2 == 0, false, t);
    const auto tr = h.transitions();
    ASSERT_EQ(tr.size(), Headset::kMaxTransitions);
    EXPECT_EQ(tr.back().requestNs, t - 200 * kMs);
}

}  // namespace
}  // namespace corva::sim
