// The simulated MCU when the link reconnects to a firmware that kept streaming while
// nobody read: a new handle sees only what is sent after it was opened.
#include "platform/platform.h"
#include "prox/prox_report.h"
#include "sim/mcu/sim_mcu.h"

#include <gtest/gtest.h>

namespace corva::sim {
namespace {

// Sends a rate command on the MCU interface of freshly opened handles and returns how many
// reports came before the acknowledgement (-1: none within 40 reads).
int reportsBeforeAck(SimMcu& mcu) {
    std::vector<HidHandle> handles = mcu.openInterfaces(prox::kVendorId, prox::kProductId);
    EXPECT_EQ(handles.size(), 3u);
    HidHandle m = handles[1];  // Chatty, Mcu, Silent
    const prox::CommandReport rate = prox::commandReport(prox::kCmdRate, 50);
    EXPECT_TRUE(mcu.setFeature(m, rate.data(), rate.size()));
    int before = -1;
    uint8_t buffer[65];
    for (int i = 0; i < 40 && before < 0; ++i) {
        const int got = mcu.readReport(m, nullptr, buffer, sizeof buffer, 1000);
        if (got <= 0) break;
        if (prox::normaliseReport(buffer, size_t(got)).tag() == prox::kRateAckTag) before = i;
    }
    for (HidHandle h : handles) mcu.close(h);
    return before;
}

TEST(SimMcuReopen, ANewHandleDoesNotInheritTheStreamNobodyRead) {
    SimMcu mcu;  // three telemetry reports precede each acknowledgement
    EXPECT_EQ(reportsBeforeAck(mcu), 3);
    platform::sleepMs(400);  // eight reports due while no handle is open
    EXPECT_EQ(reportsBeforeAck(mcu), 3);
    mcu.setHung(true);  // silent, then talking again: the link's reconnect after a silence
    platform::sleepMs(100);
    mcu.setHung(false);
    platform::sleepMs(400);
    EXPECT_EQ(reportsBeforeAck(mcu), 3);
}

}  // namespace
}  // namespace corva::sim
