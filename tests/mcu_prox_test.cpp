// The proximity link against the simulated MCU.
#include "prox/mcu_prox.h"
#include "tests/support/sample_lines.h"

#include "lines/printed_lines.h"
#include "platform/platform.h"
#include "sim/mcu/sim_mcu.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

namespace corva {
namespace {

using sim::InterfaceRole;
using sim::McuScenario;
using sim::SimMcu;

constexpr uint16_t kFastRateMs = 5;

using test::countOf;
using test::eventually;

std::string commandLetters(const std::vector<sim::McuCommand>& commands) {
    std::string letters;
    for (const auto& c : commands) letters.push_back(c.command);
    return letters;
}

McuScenario manualTelemetry(McuScenario scenario = {}) {
    scenario.periodicTelemetry = false;
    return scenario;
}

TEST(McuProxProbe, ChoosesTheAnsweringInterfaceAndClosesEveryOtherHandle) {
    McuScenario scenario;
    scenario.interfaces = {InterfaceRole::Silent, InterfaceRole::RefusesFeatures, InterfaceRole::Chatty,
                           InterfaceRole::Mcu,    InterfaceRole::Silent,          InterfaceRole::Chatty};
    SimMcu mcu(scenario);
    McuProx link(mcu);
    ASSERT_TRUE(link.open(kFastRateMs));

    EXPECT_EQ(mcu.openHandleCount(), 1u);
    EXPECT_EQ(mcu.handlesOpenedTotal(), 8u) << "six headset interfaces and two foreign devices";
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(commandLetters(mcu.commandsTo(i)), "R") << "candidate " << i;
    EXPECT_EQ(commandLetters(mcu.commandsTo(3)), "R*");
    EXPECT_EQ(mcu.commandsTo(3)[0].rateMs, kFastRateMs);
    EXPECT_TRUE(mcu.commandsTo(4).empty()) << "later candidates receive no command";
    EXPECT_TRUE(mcu.commandsTo(5).empty());

    ASSERT_TRUE(link.setBypass(true));
    EXPECT_TRUE(mcu.bypassOn());
    link.close();
    EXPECT_EQ(mcu.openHandleCount(), 0u);
}

// A firmware with a large jitter (reports up to a second late) answers the rate command at
// once: otherwise the probe's reads would end before its '$'.
TEST(McuProxProbe, AcknowledgementMustArriveWithinTenReports) {
    const std::tuple<uint32_t, double, bool> cases[] = {{9, 0, true}, {10, 0, false}, {3, 1000, true}};
    for (const auto& [before, jitterMs, expectUp] : cases) {
        McuScenario scenario;
        scenario.telemetryBeforeAck = before;
        scenario.firmware.jitterMs = jitterMs;
        SimMcu mcu(scenario);
        McuProx link(mcu);
        testing::internal::CaptureStderr();
        const bool up = link.open(kFastRateMs);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(up, expectUp) << before << " telemetry reports before the '$', jitter " << jitterMs;
        EXPECT_EQ(countOf(err, std::string(lines::kMcuNotFound.prefix()) + "\n"), up ? 0u : 1u);
        if (!up) {
            EXPECT_EQ(mcu.openHandleCount(), 0u);
        }
    }
}

TEST(McuProxProbe, NoAnsweringInterfaceLeaksNothingAndLeavesCommandsDead) {
    McuScenario scenario;
    scenario.interfaces = {InterfaceRole::Chatty, InterfaceRole::RefusesFeatures};
    SimMcu mcu(scenario);
    McuProx link(mcu);
    EXPECT_FALSE(link.setBypass(true)) << "before open";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(link.open(50));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no 35BD:0101 interface ACKed"), std::string::npos);
    EXPECT_EQ(mcu.openHandleCount(), 0u);
    EXPECT_EQ(mcu.handlesOpenedTotal(), 4u);
    EXPECT_EQ(link.device, nullptr);
    EXPECT_EQ(link.readEvent, nullptr);

    const size_t sent = mcu.commands().size();
    EXPECT_FALSE(link.setBypass(true)) << "after a failed open";
    EXPECT_FALSE(link.setDoze(true));
    EXPECT_EQ(mcu.commands().size(), sent);
    link.close();
    link.close();
}

TEST(McuProxProbe, RefusedFeatureReportsMeanNoLink) {
    SimMcu mcu;
    mcu.setRefuseFeatures(true);
    McuProx link(mcu);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(link.open(kFastRateMs));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(mcu.openHandleCount(), 0u);
}

struct FirmwareCase {
    std::string version;
    sim::VersionReply reply;
    const char* shown;
    const char* doze;
};

TEST(McuProxOpen, FirmwareVersionDecidesDozeCapabilityInTheOpenLine) {
    const FirmwareCase cases[] = {
        {"0.3", sim::VersionReply::Normal, "0.3", "unavailable -> parked fallback"},
        {"0.4", sim::VersionReply::Normal, "0.4", "capable"},
        {"0.10", sim::VersionReply::Normal, "0.10", "capable"},
        {"1.0", sim::VersionReply::Normal, "1.0", "capable"},
        {"v1", sim::VersionReply::Normal, "v1", "unavailable -> parked fallback"},
        {"", sim::VersionReply::Normal, "unknown", "unavailable -> parked fallback"},
        {"0.4", sim::VersionReply::Unanswered, "unknown", "unavailable -> parked fallback"},
        {"0.4", sim::VersionReply::Malformed, "unknown", "unavailable -> parked fallback"},
        // The device's text cannot break the line (or forge the next one).
        {"0.4\nINIT_DONE \x1b[1m", sim::VersionReply::Normal, "0.4\\x0AINIT_DONE \\x1B[1m", "capable"},
    };
    for (const FirmwareCase& c : cases) {
        McuScenario scenario;
        scenario.firmwareVersion = c.version;
        scenario.versionReply = c.reply;
        SimMcu mcu(scenario);
        McuProx link(mcu);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(link.open(kFastRateMs)) << c.version;
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string expected = test::printed(lines::kMcuTelemetry, 5u, 1500u, 100u, c.shown, c.doze);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(link.firmware, c.reply == sim::VersionReply::Normal ? c.version : "");
    }
}

// A host that polls every 32 ms takes the reports of a 1 ms telemetry 32 at a time: the
// line that says the interval is not the one asked for gives how often they arrive.
TEST(McuProxOpen, AnIntervalOffTheOneAskedForIsSaidAsTheReportsArrive) {
    McuScenario scenario;
    scenario.firmware.pollMs = 32;
    SimMcu mcu(scenario);
    McuProx link(mcu);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(link.open(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    link.close();
    const std::string err = testing::internal::GetCapturedStderr();
    const size_t at = err.find(lines::kMcuIntervalOff.prefix());
    double everyMs = 0.0;
    unsigned askedMs = 0;
    ASSERT_TRUE(at != std::string::npos &&
                lines::scan(lines::kMcuIntervalOff,
                            std::string_view(err).substr(at, err.find('\n', at) + 1 - at), everyMs, askedMs))
        << err;
    EXPECT_EQ(askedMs, 1u);
    EXPECT_TRUE(everyMs > 24.0 && everyMs < 48.0) << everyMs;
}

TEST(McuProxOpen, VersionWithoutNulTakesTheWholePayload) {
    const std::string longVersion = "1.2-" + std::string(59, 'x');  // '*' + 63 characters fill 64 bytes
    for (bool reportId : {true, false}) {
        McuScenario scenario;
        scenario.firmwareVersion = longVersion;
        scenario.reportIdPrefix = reportId;
        SimMcu mcu(scenario);
        McuProx link(mcu);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(link.open(kFastRateMs));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(link.firmware, longVersion) << "report id " << reportId;
        EXPECT_TRUE(link.dozeCapable);
    }
}

TEST(McuProxOpen, StartsWornOnAWornHeadsetAndReopeningKeepsTheFirstRate) {
    SimMcu mcu;  // the healthy worn headset
    mcu.setDstat(0x000B);
    McuProx link(mcu);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(link.open(kFastRateMs));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(link.worn.load()) << "open waits for the first full average";
    EXPECT_GE(link.distance.load(), 1600);
    EXPECT_TRUE(eventually([&] { return link.dstat.load() == 0x000B; }));

    EXPECT_TRUE(link.open(50));
    EXPECT_EQ(link.rateMs, kFastRateMs);
    EXPECT_EQ(mcu.telemetryRateMs(), kFastRateMs);
    EXPECT_EQ(commandLetters(mcu.commandsTo(1)), "R*") << "no second probe";
    EXPECT_EQ(mcu.openHandleCount(), 1u);

    ASSERT_TRUE(link.setDoze(true));
    EXPECT_TRUE(mcu.dozed());
    ASSERT_TRUE(link.setDoze(false));
    EXPECT_FALSE(mcu.dozed());
    ASSERT_TRUE(link.setBypass(true));
    ASSERT_TRUE(link.setBypass(false));
    EXPECT_FALSE(mcu.bypassOn());
    EXPECT_EQ(commandLetters(mcu.commandsTo(1)), "R*Hhp[");

    link.close();
    EXPECT_FALSE(link.running.load());
    const size_t sent = mcu.commands().size();
    EXPECT_FALSE(link.setBypass(false)) << "after close";
    EXPECT_EQ(mcu.commands().size(), sent);
    link.close();

    // The object may be opened again after close, at a new rate.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(link.open(kFastRateMs + 1));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(mcu.telemetryRateMs(), kFastRateMs + 1);
}

TEST(McuProxOpen, DozeAndBypassReachTheDisplayStatusWord) {
    SimMcu mcu;
    mcu.setDstat(0x0003);
    McuProx link(mcu);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(link.open(kFastRateMs));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(eventually([&] { return link.dstat.load() == 0x0003; }));

    const int64_t before = platform::steadyNowNs();
    ASSERT_TRUE(link.setDoze(true));
    EXPECT_TRUE(eventually([&] { return link.dstat.load() == 0x0002; })) << "displays off while dozed";
    ASSERT_TRUE(link.setDoze(false));
    EXPECT_TRUE(eventually([&] { return link.dstat.load() == 0x0003; }));
    const std::vector<sim::McuCommand> sent = mcu.commandsTo(1);
    ASSERT_EQ(commandLetters(sent), "R*Hh");
    EXPECT_GE(sent[2].atNs, before);
    EXPECT_GE(sent[3].atNs, sent[2].atNs);

    mcu.setDstatProvider([](const sim::McuFirmwareState& s) { return uint16_t(s.bypass ? 0x0109 : 0x0100); });
    ASSERT_TRUE(link.setBypass(true));
    EXPECT_TRUE(eventually([&] { return link.dstat.load() == 0x0109; }));
}

TEST(McuProxOpen, RefusedCommandReturnsFalse) {
    SimMcu mcu;
    McuProx link(mcu);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(link.open(kFastRateMs));
    testing::internal::GetCapturedStdout();
    mcu.setRefuseFeatures(true);
    EXPECT_FALSE(link.setBypass(true));
    EXPECT_FALSE(mcu.bypassOn());
}

// Feeds readings one at a time and waits until the reader has taken each.
class ManualTelemetry : public testing::Test {
  protected:
    void openWith(McuScenario scenario) {
        mcu = std::make_unique<SimMcu>(manualTelemetry(std::move(scenario)));
        link = std::make_unique<McuProx>(*mcu);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(link->open(kFastRateMs));
        testing::internal::GetCapturedStdout();
    }
    void feed(uint16_t reading) {
        mcu->injectTelemetry(reading);
        ASSERT_TRUE(eventually([&] { return link->distance.load() == reading; })) << reading;
    }
    std::unique_ptr<SimMcu> mcu;
    std::unique_ptr<McuProx> link;
};

TEST_F(ManualTelemetry, WornFromTheEighthReadingThenHeldAbove1400) {
    openWith({});
    for (uint16_t r = 2000; r < 2006; ++r) feed(r);
    // Garbage and short reports are not readings.
    mcu->injectReport({0x00, '#', 1, 2, 3, 0x07});  // five payload bytes
    mcu->injectReport({'#', 0x00});
    mcu->injectReport({0x00, 'Z', 0, 0, 0, 0x07, 0xD0});
    feed(2006);
    EXPECT_FALSE(link->worn.load()) << "seven readings decide nothing";
    feed(2007);
    EXPECT_TRUE(link->worn.load());
    for (int i = 0; i < 8; ++i) feed(i % 2 ? 1400 : 1402);  // mean 1401
    EXPECT_TRUE(link->worn.load());
    feed(1399);  // 1400 * 4 + 1402 * 3 + 1399: mean 1400
    EXPECT_FALSE(link->worn.load());
}

TEST_F(ManualTelemetry, ShortPayloadUpdatesDistanceButNotDstat) {
    McuScenario scenario;
    scenario.telemetryPayloadBytes = 6;
    openWith(scenario);
    mcu->setDstat(0x0009);
    feed(0xFF10);
    EXPECT_EQ(link->dstat.load(), 0u);
}

TEST_F(ManualTelemetry, FullPayloadWithoutReportIdCarriesDstat) {
    McuScenario scenario;
    scenario.telemetryPayloadBytes = 26;
    scenario.reportIdPrefix = false;
    openWith(scenario);
    mcu->setDstat(0x0009);
    feed(1234);
    EXPECT_EQ(link->dstat.load(), 0x0009u);
}

TEST_F(ManualTelemetry, ThreeSilentReadsInARowDeclareTheDeviceGone) {
    McuScenario scenario;
    scenario.telemetryPayloadBytes = 26;
    openWith(scenario);
    mcu->setDstat(0x0003);
    for (int i = 0; i < 8; ++i) feed(uint16_t(2000 + i));
    ASSERT_TRUE(link->worn.load());

    testing::internal::CaptureStderr();
    const size_t opened = mcu->handlesOpenedTotal();
    const size_t before = mcu->timedOutReads();
    ASSERT_TRUE(eventually([&] { return mcu->timedOutReads() == before + 2; }));
    mcu->injectReport({0x00});  // a lone byte proves the device alive
    ASSERT_TRUE(eventually([&] { return mcu->timedOutReads() == before + 4; }));
    EXPECT_EQ(mcu->openHandleCount(), 1u);
    EXPECT_EQ(mcu->handlesOpenedTotal(), opened) << "two silent reads after a report are not three";

    ASSERT_TRUE(eventually([&] { return mcu->openHandleCount() == 0; }));
    EXPECT_FALSE(link->worn.load());
    EXPECT_EQ(link->distance.load(), 0u);
    EXPECT_EQ(link->dstat.load(), 0x0003u) << "dstat keeps its last value while gone";
    const size_t sent = mcu->commands().size();
    EXPECT_FALSE(link->setBypass(true)) << "while gone";
    EXPECT_FALSE(link->setDoze(false));
    EXPECT_EQ(mcu->commands().size(), sent);

    // Inside the reconnect wait: close must not sit out the two seconds.
    const auto start = std::chrono::steady_clock::now();
    link->close();
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_LT(took, std::chrono::milliseconds(600));
    EXPECT_EQ(err, test::printed(lines::kMcuSilent, 3));
    EXPECT_EQ(mcu->commands().size(), sent) << "no reconnect probe was started";
}

// A hung microcontroller back on the bus: the reconnect's probe gets no answer to its rate
// command (up to ten reads of 500 ms). close() ends the probe at once, so the teardown fits
// the time Windows gives it at a log-off or shut-down.
TEST_F(ManualTelemetry, CloseEndsAReconnectProbeInProgress) {
    openWith({});
    testing::internal::CaptureStderr();
    mcu->setHung(true);
    mcu->unplug();
    ASSERT_TRUE(eventually([&] { return link->deviceGone(); }));
    const size_t sent = mcu->commands().size();
    mcu->replug();
    // The probe's rate command, after the reconnect wait; then its first read is pending.
    ASSERT_TRUE(eventually([&] { return mcu->commands().size() > sent; }, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    link->close();
    const auto took = std::chrono::steady_clock::now() - start;
    testing::internal::GetCapturedStderr();
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_TRUE(link->deviceGone()) << "the stopped probe adopted nothing";
    EXPECT_EQ(mcu->openHandleCount(), 0u);
}

TEST_F(ManualTelemetry, UnplugAndReplugReconnectOnceAndRestartTheAverage) {
    openWith({});
    for (int i = 0; i < 8; ++i) feed(uint16_t(1800 + i));
    ASSERT_TRUE(link->worn.load());

    testing::internal::CaptureStderr();
    mcu->unplug();
    ASSERT_TRUE(eventually([&] { return mcu->openHandleCount() == 0; }));
    EXPECT_FALSE(link->worn.load());
    EXPECT_EQ(link->distance.load(), 0u);
    EXPECT_FALSE(link->setBypass(true));
    mcu->replug();
    // The reader probes again after its two-second wait.
    ASSERT_TRUE(eventually([&] { return mcu->openHandleCount() == 1; }, std::chrono::seconds(10)));
    ASSERT_TRUE(eventually([&] { return link->setBypass(true); }));  // the reader has adopted the handle
    EXPECT_TRUE(mcu->bypassOn());

    for (uint16_t r = 2000; r < 2007; ++r) feed(r);
    EXPECT_FALSE(link->worn.load()) << "readings from before the unplug must not count";
    feed(2007);
    EXPECT_TRUE(link->worn.load());
    link->close();

    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, test::printed(lines::kMcuReadFailed, 1167ul) + test::printed(lines::kMcuReconnected));
    const std::string letters = commandLetters(mcu->commands());
    EXPECT_EQ(countOf(letters, "*"), 1u) << "the firmware is not asked again: " << letters;
    EXPECT_EQ(link->firmware, "0.4");
}

// A replugged MCU starts with its bypass off: the link sends it again while it is wanted,
// and never after the restore ('[') was asked for, even while the device was gone.
TEST_F(ManualTelemetry, BypassIsSentAgainAfterAReconnectUntilRestored) {
    const struct {
        bool restoreWhileGone;
        bool bypassAfterReconnect;
        std::string resendLine;
    } cases[] = {
        {false, true, test::printed(lines::kMcuBypassResent, lines::kResentOk)},
        {true, false, ""},
    };
    for (const auto& c : cases) {
        openWith({});
        ASSERT_TRUE(link->setBypass(true));
        const uint32_t losses = link->linkLosses();
        testing::internal::CaptureStderr();
        mcu->unplug();
        ASSERT_TRUE(eventually([&] { return link->deviceGone(); }));
        EXPECT_EQ(link->linkLosses(), losses + 1);
        if (c.restoreWhileGone) {
            EXPECT_FALSE(link->setBypass(false));
        }
        mcu->replug();
        ASSERT_TRUE(eventually([&] { return !link->deviceGone(); }, std::chrono::seconds(10)));
        EXPECT_EQ(mcu->bypassOn(), c.bypassAfterReconnect) << c.restoreWhileGone;
        link->close();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(countOf(err, "re-sent"), c.resendLine[0] != 0 ? 1u : 0u) << err;
        EXPECT_NE(err.find(std::string("telemetry restarted\n") + c.resendLine), std::string::npos) << err;
    }
}

TEST(McuProxClose, CloseEndsABlockedReadAtOnce) {
    McuScenario scenario = manualTelemetry();
    SimMcu mcu(scenario);
    McuProx link(mcu);
    link.close();  // never opened: nothing to do
    testing::internal::CaptureStdout();
    ASSERT_TRUE(link.open(kFastRateMs));
    testing::internal::GetCapturedStdout();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader is blocked in its read
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    link.close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a cancelled read is not a failure";
    EXPECT_LT(took, std::chrono::milliseconds(500));
    EXPECT_EQ(mcu.openHandleCount(), 0u);
    EXPECT_EQ(link.device, nullptr);
    EXPECT_EQ(link.readEvent, nullptr);
}

// The simulated transport keeps the read semantics the link relies on.
class SimTransport : public testing::Test {
  protected:
    void SetUp() override {
        McuScenario scenario = manualTelemetry();
        scenario.interfaces = {InterfaceRole::Mcu};
        scenario.telemetryBeforeAck = 0;
        mcu = std::make_unique<SimMcu>(scenario);
        handles = mcu->openInterfaces(0x35BD, 0x0101);
        ASSERT_EQ(handles.size(), 1u);
        const uint8_t rate[65] = {0, 'R', 0, 5};
        ASSERT_TRUE(mcu->setFeature(handles[0], rate, sizeof(rate)));
        uint8_t buffer[65];
        ASSERT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 100), 65);
        ASSERT_EQ(buffer[1], '$');
    }
    void TearDown() override {
        for (HidHandle h : handles) mcu->close(h);
    }
    std::unique_ptr<SimMcu> mcu;
    std::vector<HidHandle> handles;
};

TEST_F(SimTransport, AReadCompletingAsItsTimeoutIsCancelledKeepsItsReport) {
    uint8_t buffer[65] = {};
    EXPECT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 10), 0);
    mcu->completeAtNextTimeout({0x00, '#', 1, 2, 3, 0x07, 0xD0});
    EXPECT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 10), 7);
    EXPECT_EQ(buffer[5], 0x07);

    McuProx link(*mcu);  // the link's own read passes it through
    mcu->completeAtNextTimeout({0x00, '$'});
    EXPECT_EQ(link.readReport(handles[0], nullptr, buffer, sizeof(buffer), 10), 2);
}

TEST_F(SimTransport, CancelEndsABlockedReadAndUnplugFailsIt) {
    uint8_t buffer[65];
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        mcu->cancelIo(handles[0]);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 5000), -1);
    canceller.join();
    EXPECT_EQ(mcu->lastError(), hid_error::kOperationAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));

    mcu->unplug();
    EXPECT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 5000), -1);
    EXPECT_EQ(mcu->lastError(), hid_error::kDeviceNotConnected);
    const uint8_t bypass[65] = {0, 'p'};
    EXPECT_FALSE(mcu->setFeature(handles[0], bypass, sizeof(bypass)));
    EXPECT_TRUE(mcu->openInterfaces(0x35BD, 0x0101).empty());
    mcu->replug();
    EXPECT_EQ(mcu->readReport(handles[0], nullptr, buffer, sizeof(buffer), 10), -1)
        << "old handles stay dead";
}

}  // namespace
}  // namespace corva
