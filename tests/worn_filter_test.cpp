#include "prox/worn_filter.h"

#include <gtest/gtest.h>

namespace corva::prox {
namespace {

constexpr uint16_t kThreshold = 1500;
constexpr uint16_t kHysteresis = 100;

bool feed(WornFilter& filter, bool worn, uint16_t reading, int times) {
    for (int i = 0; i < times; ++i) worn = filter.add(reading, worn, kThreshold, kHysteresis);
    return worn;
}

TEST(WornFilter, DecidesOnlyFromTheEighthReading) {
    WornFilter filter;
    bool worn = feed(filter, false, 2000, 7);
    EXPECT_FALSE(worn);
    worn = feed(filter, worn, 2000, 1);
    EXPECT_TRUE(worn);
}

TEST(WornFilter, HysteresisBandHoldsTheState) {
    WornFilter filter;
    bool worn = feed(filter, false, 1599, 8);
    EXPECT_FALSE(worn) << "below 1600 stays away";
    worn = feed(filter, worn, 1600, 8);
    EXPECT_TRUE(worn);
    worn = feed(filter, worn, 1401, 8);
    EXPECT_TRUE(worn) << "a mean of 1401 keeps worn";
    worn = feed(filter, worn, 1400, 8);
    EXPECT_FALSE(worn);
}

TEST(WornFilter, MeanIsTheFlooredAverageOfTheLastEight) {
    WornFilter filter;
    bool worn = feed(filter, false, 1600, 7);
    worn = feed(filter, worn, 1599, 1);  // sum 12799: mean 1599.875 floors to 1599
    EXPECT_FALSE(worn);
    worn = feed(filter, worn, 1601, 1);  // the 1599 is still in the ring: 12801 / 8 = 1600
    EXPECT_TRUE(worn);
}

TEST(WornFilter, FullScaleReadingsDoNotOverflowTheSum) {
    WornFilter filter;
    EXPECT_TRUE(feed(filter, false, 0xFFFF, 8));
    WornFilter mixed;
    bool worn = feed(mixed, false, 0, 7);
    worn = feed(mixed, worn, 0xFF00, 1);  // 65280 / 8 = 8160
    EXPECT_TRUE(worn);
}

TEST(WornFilter, RestartForgetsTheReadingsCount) {
    WornFilter filter;
    bool worn = feed(filter, false, 2000, 8);
    ASSERT_TRUE(worn);
    worn = false;  // the link clears worn while the device is gone
    filter.restart();
    worn = feed(filter, worn, 2000, 7);
    EXPECT_FALSE(worn) << "stale readings must not decide after a reconnection";
    EXPECT_EQ(filter.readingsSinceRestart(), 7u);
    EXPECT_TRUE(feed(filter, worn, 2000, 1));
}

TEST(WornFilter, NoLowerBoundWhenHysteresisExceedsThreshold) {
    EXPECT_TRUE(nextWornState(true, 0, 50, 100));
    EXPECT_TRUE(nextWornState(false, 150, 50, 100));
    EXPECT_FALSE(nextWornState(false, 149, 50, 100));
    EXPECT_FALSE(nextWornState(true, 0, 100, 100));  // bound exists at exactly zero
}

}  // namespace
}  // namespace corva::prox
