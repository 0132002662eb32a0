#include "platform/hid_transport.h"
#include "prox/prox_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace corva::prox {
namespace {

TEST(ProxReport, RateCommandCarriesTheIntervalBigEndianAndOthersOnlyTheirCharacter) {
    const CommandReport rate = commandReport(kCmdRate, 50);
    ASSERT_EQ(rate.size(), 65u);
    EXPECT_EQ(rate[0], 0x00);
    EXPECT_EQ(rate[1], 0x52);
    EXPECT_EQ(rate[2], 0x00);
    EXPECT_EQ(rate[3], 0x32);
    EXPECT_EQ(commandReport(kCmdRate, 0x1234)[2], 0x12);
    EXPECT_EQ(commandReport(kCmdRate, 0x1234)[3], 0x34);

    const CommandReport bypass = commandReport(kCmdBypassOn, 0x1234);  // the interval is for 'R' only
    EXPECT_EQ(bypass[1], 'p');
    for (size_t i = 0; i < bypass.size(); ++i)
        if (i != 1) {
            EXPECT_EQ(bypass[i], 0) << "byte " << i;
        }
}

// An interface is kept only when 65-byte reads and 65-byte commands suit its reports.
TEST(ProxReport, InterfacesWhoseReportsDoNotFitTheCommandsAreRefused) {
    static_assert(kHidReportBytes == std::tuple_size_v<CommandReport>);
    for (const HidReportLengths fits : {HidReportLengths{65, 65}, {33, 65}})
        EXPECT_TRUE(reportLengthsFit(fits)) << fits.input << "/" << fits.feature;
    for (const HidReportLengths refused : {HidReportLengths{66, 65}, {1, 65}, {65, 64}, {65, 66}, {65, 0}})
        EXPECT_FALSE(reportLengthsFit(refused)) << refused.input << "/" << refused.feature;
}

TEST(ProxReport, LeadingReportIdIsDroppedOnlyWhenMoreThanOneByteWasRead) {
    const uint8_t lone[] = {0x00};
    const Payload one = normaliseReport(lone, 1);
    EXPECT_EQ(one.size, 1u);
    EXPECT_EQ(one.tag(), 0x00);  // neither telemetry nor an answer

    const uint8_t withId[] = {0x00, '$', 0x00};
    const Payload ack = normaliseReport(withId, 3);
    EXPECT_EQ(ack.size, 2u);
    EXPECT_EQ(ack.tag(), '$');

    const uint8_t withoutId[] = {'#', 0x00};
    EXPECT_EQ(normaliseReport(withoutId, 2).size, 2u);
    EXPECT_EQ(normaliseReport(withoutId, 2).tag(), '#');
    EXPECT_EQ(normaliseReport(withoutId, 0).tag(), 0);
}

std::vector<uint8_t> telemetryPayload(size_t size, uint8_t proxHigh, uint8_t proxLow) {
    std::vector<uint8_t> p(size, 0xAA);
    p[0] = '#';
    p[4] = proxHigh;
    p[5] = proxLow;
    if (size >= 26) {
        p[24] = 0x01;
        p[25] = 0x0B;
    }
    return p;
}

TEST(ProxReport, TelemetryNeedsSixBytesAndCarriesDstatFromTwentySix) {
    Telemetry t;
    std::vector<uint8_t> six = telemetryPayload(6, 0x07, 0xD0);
    ASSERT_TRUE(decodeTelemetry({six.data(), six.size()}, t));
    EXPECT_EQ(t.proximity, 2000);
    EXPECT_FALSE(t.hasDstat);

    std::vector<uint8_t> twentyFive = telemetryPayload(25, 0x07, 0xD0);
    ASSERT_TRUE(decodeTelemetry({twentyFive.data(), twentyFive.size()}, t));
    EXPECT_FALSE(t.hasDstat);

    std::vector<uint8_t> full = telemetryPayload(26, 0xFF, 0x10);
    ASSERT_TRUE(decodeTelemetry({full.data(), full.size()}, t));
    EXPECT_EQ(t.proximity, 0xFF10);  // unsigned: far above any threshold
    EXPECT_TRUE(t.hasDstat);
    EXPECT_EQ(t.dstat, 0x010B);

    std::vector<uint8_t> five = telemetryPayload(6, 0x07, 0xD0);
    EXPECT_FALSE(decodeTelemetry({five.data(), 5}, t));
    six[0] = '$';
    EXPECT_FALSE(decodeTelemetry({six.data(), six.size()}, t));
}

TEST(ProxReport, VersionTextEndsAtNulOrAtTheEndOfThePayload) {
    const uint8_t terminated[] = {'*', '0', '.', '4', 0, 'x', 'y'};
    EXPECT_EQ(versionText({terminated, sizeof(terminated)}), "0.4");
    const uint8_t full[] = {'*', '1', '.', '2', '3'};
    EXPECT_EQ(versionText({full, sizeof(full)}), "1.23");
    const uint8_t empty[] = {'*', 0};
    EXPECT_EQ(versionText({empty, sizeof(empty)}), "");
}

TEST(ProxReport, DozeNeedsFirmwareZeroPointFourOrLater) {
    struct Case {
        const char* firmware;
        bool capable;
    } cases[] = {{"0.3", false},
                 {"0.4", true},
                 {"0.10", true},
                 {"1.0", true},
                 {"v1", false},
                 {"", false},
                 {"-1.9", false},
                 {"1", false},
                 {"2.x", false},
                 {"0.04", true},
                 {"12.0-rc", true},
                 {"0.-5", false},
                 {"99999999999999.0", true}};
    for (const Case& c : cases)
        EXPECT_EQ(firmwareSupportsDoze(c.firmware), c.capable) << '"' << c.firmware << '"';
}

}  // namespace
}  // namespace corva::prox
