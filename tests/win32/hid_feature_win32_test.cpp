// Feature reports sent on the handle the reader has a read pending on, as the proximity
// link sends its commands, against the simulated MCU served as a real HID device: inside
// the guest only (tests/guest runs this program under Wine there); skipped elsewhere.
#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "prox/prox_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace corva {
namespace {

bool inGuest() {
    const char* guest = std::getenv("TESSARAY_GUEST");
    return guest != nullptr && std::string(guest) == "1";
}

// Every command the device accepts reports success, many times over, while telemetry
// reads complete and are re-armed beside them; none of the reads fails.
TEST(Win32HidDevice, FeatureReportsBesideAPendingReadReportTheDevicesResult) {
    if (!inGuest()) GTEST_SKIP() << "needs the simulated MCU as a HID device (tests/guest)";
    HidTransport& hid = systemHidTransport();
    const std::vector<HidHandle> found = hid.openInterfaces(prox::kVendorId, prox::kProductId);
    ASSERT_EQ(found.size(), 1u);
    const HidHandle device = found[0];
    const prox::CommandReport rate = prox::commandReport(prox::kCmdRate, 50);
    ASSERT_TRUE(hid.setFeature(device, rate.data(), rate.size())) << hid.lastError();

    platform::OsHandle readEvent = platform::createEvent(true, false);
    std::atomic<bool> stop{false};
    std::atomic<int> reports{0}, readErrors{0};
    std::thread reader([&] {
        uint8_t buffer[prox::kReportBytes];
        while (!stop.load()) {
            const int got = hid.readReport(device, readEvent, buffer, sizeof buffer, 1000);
            if (got > 0) reports += 1;
            if (got < 0 && !stop.load()) readErrors += 1;
        }
    });
    constexpr int kSends = 200;
    int accepted = 0;
    std::vector<double> sendMs;
    for (int i = 0; i < kSends; ++i) {
        const prox::CommandReport command =
            prox::commandReport(i % 2 == 0 ? prox::kCmdBypassOn : prox::kCmdBypassOff);
        const int64_t start = platform::steadyNowNs();
        accepted += hid.setFeature(device, command.data(), command.size()) ? 1 : 0;
        sendMs.push_back(double(platform::steadyNowNs() - start) / 1e6);
    }
    stop = true;
    hid.cancelIo(device);
    reader.join();
    hid.close(device);
    platform::closeHandle(readEvent);

    std::sort(sendMs.begin(), sendMs.end());
    std::printf(
        "feature reports beside a pending read: %d of %d accepted, median %.2f ms, max %.2f ms; "
        "%d reports read\n",
        accepted, kSends, sendMs[sendMs.size() / 2], sendMs.back(), reports.load());
    EXPECT_EQ(accepted, kSends);
    EXPECT_GT(reports.load(), 0);
    EXPECT_EQ(readErrors.load(), 0);
}

}  // namespace
}  // namespace corva
