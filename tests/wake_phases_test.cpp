// The telemetry interval setting, and the timing of the telemetry around the displays
// coming on.
#include "app/telemetry_setting.h"
#include "prox/displays_on_edge_tracker.h"
#include "prox/telemetry_interval.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corva {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kRequest = 1000 * kMs;

TEST(TelemetrySetting, WholeMillisecondsFromOneToFifty) {
    struct Case {
        const char* text;
        bool taken;
        uint16_t ms;
    };
    const Case cases[] = {{nullptr, true, 50}, {"1", true, 1},    {"5", true, 5},     {"50", true, 50},
                          {"0", false, 50},    {"51", false, 50}, {"", false, 50},    {"5ms", false, 50},
                          {"-5", false, 50},   {" 5", false, 50}, {"0005", false, 50}};
    for (const Case& c : cases) {
        uint16_t ms = 0;
        EXPECT_EQ(telemetryIntervalFrom(c.text, ms), c.taken) << (c.text ? c.text : "(unset)");
        EXPECT_EQ(ms, c.ms) << (c.text ? c.text : "(unset)");
    }
}

// A stream sent every `periodMs`, each report read `delayMs[i % size]` late.
std::vector<int64_t> arrivals(double periodMs, const std::vector<double>& delayMs, size_t count) {
    std::vector<int64_t> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(kRequest + int64_t((double(i) * periodMs + delayMs[i % delayMs.size()]) * kMs));
    return out;
}

TEST(TelemetryInterval, MeasuredThroughStallsAndBursts) {
    struct Case {
        const char* what;
        double periodMs;
        std::vector<double> delayMs;
        uint16_t requestedMs;
        bool kept;
        bool differs;
    };
    const Case cases[] = {
        {"prompt", 5, {0.05}, 5, true, false},
        // A stall: eight reports read together 40 ms late, then prompt again.
        {"stalled reader",
         5,
         {0.1, 0.1, 0.1, 40, 35, 30, 25, 20, 15, 10, 5, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1},
         5,
         true,
         false},
        {"firmware ignores the rate", 50, {0.2}, 5, false, true},
        {"slightly off", 5.8, {0.1}, 5, false, false},
    };
    for (const Case& c : cases) {
        prox::TelemetryIntervalMeter meter;
        const std::vector<int64_t> in =
            arrivals(c.periodMs, c.delayMs, prox::TelemetryIntervalMeter::kReports);
        for (size_t i = 0; i + 1 < in.size(); ++i) EXPECT_FALSE(meter.add(in[i]));
        ASSERT_TRUE(meter.add(in.back())) << c.what;
        EXPECT_EQ(prox::intervalKept(meter.measuredMs(), c.requestedMs), c.kept)
            << c.what << meter.measuredMs();
        EXPECT_EQ(prox::intervalDiffers(meter.measuredMs(), c.requestedMs), c.differs) << c.what;
    }
}

// The displays come on at `onMs` of a stream sent every 5 ms; whatever the reader's delays,
// the interval holds the truth, and on the grid it is one interval wide.
TEST(DisplaysOnEdge, IntervalHoldsTheTruthWhateverTheReadersDelay) {
    struct Case {
        const char* what;
        bool grid;
        std::vector<double> delayMs;
        double onMs;
    };
    const Case cases[] = {
        {"prompt reader, by arrival", false, {0.05}, 52.3},
        {"prompt reader, on the grid", true, {0.05}, 52.3},
        {"last off report read 4 ms late",
         true,
         {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 4.0, 0.1},
         52.3},
        {"a burst after a stall", true, {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 12, 8, 4, 0.5, 0.1}, 51.0},
    };
    for (const Case& c : cases) {
        prox::DisplaysOnEdgeTracker edge;
        if (c.grid) edge.setIntervalNs(5 * kMs);
        const std::vector<int64_t> in = arrivals(5, c.delayMs, 20);
        int rising = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            const bool on = double(i) * 5 >= c.onMs;
            rising += edge.add(on ? 0x000b : 0x0002, in[i]) ? 1 : 0;
        }
        ASSERT_EQ(rising, 1) << c.what;
        const double lo = double(edge.edgeLastOffNs() - kRequest) / kMs;
        const double hi = double(edge.edgeFirstOnNs() - kRequest) / kMs;
        EXPECT_LE(lo, c.onMs) << c.what;
        EXPECT_GE(hi, c.onMs) << c.what;
        if (c.grid) {
            // One interval and the quickest delivery, with the allowances for the crystal's drift
            // and for the jitter that a burst after a stall seems to show (the least send delay
            // of 16 reports may still be 44 % of it).
            EXPECT_GE(hi - lo, 5.2 - 1e-6) << c.what;
            EXPECT_LE(hi - lo, 5.2 + 1.0) << c.what;
        }
    }
}

}  // namespace
}  // namespace corva
