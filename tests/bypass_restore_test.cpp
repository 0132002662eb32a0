// The bypass restore's verdict against the simulated MCU: the microcontroller's own answer,
// whenever its reports are read; a device that is there gets its '[' even when the link has
// no live handle for it.
#include "platform/platform.h"
#include "prox/mcu_prox.h"
#include "sim/mcu/sim_mcu.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace corva {
namespace {

using sim::SimMcu;
using test::eventually;

constexpr uint16_t kRateMs = 50;  // the interval the program asks for
constexpr int64_t kNoHurryNs = 20000000000;

// The simulated MCU behind a reader that can be held up: a stalled read waits before it
// reads, as a thread the machine did not run for that long.
class StallingTransport final : public HidTransport {
  public:
    explicit StallingTransport(SimMcu& mcu) : mcu_(mcu) {}

    // The next `reads` reads each wait `ms` first; with `afterBypassOff`, only those after
    // the next '['.
    void stall(int ms, int reads, bool afterBypassOff) {
        stallMs_.store(ms);
        armed_.store(afterBypassOff ? reads : 0);
        stalledReads_.store(afterBypassOff ? 0 : reads);
    }

    // The next '[' fails with ERROR_GEN_FAILURE, as a device being unplugged fails the request.
    void failNextBypassOff() { failBypassOff_.store(true); }

    std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) override {
        return mcu_.openInterfaces(vendorId, productId);
    }
    bool setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t timeoutMs) override {
        if (size >= 2 && report[1] == '[' && failBypassOff_.exchange(false))
            return injectedError_.store(hid_error::kGenFailure), false;
        const bool ok = mcu_.setFeature(handle, report, size, timeoutMs);
        if (size >= 2 && report[1] == '[') stalledReads_.store(armed_.exchange(0));
        return ok;
    }
    int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                   void*) override {
        int left = stalledReads_.load();
        while (left > 0 && !stalledReads_.compare_exchange_weak(left, left - 1)) {
        }
        if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_.load()));
        return mcu_.readReport(handle, event, buffer, size, timeoutMs);
    }
    void cancelIo(HidHandle handle) override { mcu_.cancelIo(handle); }
    void close(HidHandle handle) override { mcu_.close(handle); }
    unsigned long lastError() const override {
        const unsigned long injected = injectedError_.exchange(0);
        return injected != 0 ? injected : mcu_.lastError();
    }

  private:
    SimMcu& mcu_;
    std::atomic<int> stallMs_{0};
    std::atomic<int> armed_{0};
    std::atomic<int> stalledReads_{0};
    std::atomic<bool> failBypassOff_{false};
    mutable std::atomic<unsigned long> injectedError_{0};
};

// A worn headset whose link is up with the bypass on, its lines kept out of the test's output.
struct BypassedHeadset {
    BypassedHeadset() : transport(mcu), link(transport) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        opened = link.open(kRateMs) && link.setBypass(true) && mcu.bypassOn();
    }
    ~BypassedHeadset() {
        link.close();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
    RestoreVerdict restore() { return link.restoreBypass(platform::steadyNowNs() + kNoHurryNs); }
    // The accepted commands the microcontroller received from the `from`th on.
    std::string acceptedSince(size_t from) const {
        std::string letters;
        const std::vector<sim::McuCommand> all = mcu.mcuCommands();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].accepted) letters.push_back(all[i].command);
        return letters;
    }

    SimMcu mcu;
    StallingTransport transport;
    McuProx link;
    bool opened = false;
};

const char* nameOf(RestoreVerdict verdict) {
    return verdict == RestoreVerdict::Ok       ? "ok"
           : verdict == RestoreVerdict::Failed ? "FAILED"
                                               : "not confirmed";
}

// Reads held up around the '[' (the reader before it, the restore's own reads after it),
// for longer than three telemetry intervals and for seconds: the answer still comes, in order.
TEST(BypassRestore, HealthyDeviceIsConfirmedHoweverLateItsReportsAreRead) {
    const struct {
        const char* name;
        int stallMs;
        int reads;
        bool afterBypassOff;
    } cases[] = {
        {"no stall", 0, 0, false},
        {"the reads after the '[' held up 400 ms", 400, 1, true},
        {"five reads after the '[' held up 200 ms each", 200, 5, true},
        {"the read after the '[' held up 3 s", 3000, 1, true},
        {"the reader held up 3 s as the restore begins", 3000, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BypassedHeadset headset;
        ASSERT_TRUE(headset.opened);
        headset.transport.stall(c.stallMs, c.reads, c.afterBypassOff);
        if (!c.afterBypassOff && c.reads > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const size_t before = headset.mcu.mcuCommands().size();
        EXPECT_STREQ(nameOf(headset.restore()), "ok");
        EXPECT_FALSE(headset.mcu.bypassOn());
        EXPECT_EQ(headset.acceptedSince(before), "[R") << "the '[', then the command whose '$' confirms it";
    }
}

// What the microcontroller did decides: silent or gone, nobody can tell; refused, FAILED.
// A device that is there but has no live handle in the link is found and told.
TEST(BypassRestore, VerdictFollowsTheMicrocontroller) {
    const struct {
        const char* name;
        std::function<void(BypassedHeadset&)> fault;
        const char* verdict;
        bool bypassAfter;
    } cases[] = {
        {"silent (hung, its handle live)", [](BypassedHeadset& h) { h.mcu.setHung(true); }, "not confirmed",
         true},
        {"unplugged, its handle not yet dropped",
         [](BypassedHeadset& h) {
             h.link.stopReader();
             h.mcu.unplug();
         },
         "not confirmed", true},
        {"unplugged and dropped, never back",
         [](BypassedHeadset& h) {
             h.mcu.unplug();
             ASSERT_TRUE(eventually([&] { return h.link.deviceGone(); }));
         },
         "not confirmed", true},
        {"refusing feature reports", [](BypassedHeadset& h) { h.mcu.setRefuseFeatures(true); }, "FAILED",
         true},
        {"unplugged as the '[' goes (ERROR_GEN_FAILURE), not back",
         [](BypassedHeadset& h) {
             h.link.stopReader();
             h.mcu.unplug();
             h.transport.failNextBypassOff();
         },
         "not confirmed", true},
        {"reset as the '[' goes (ERROR_GEN_FAILURE), back at once",
         [](BypassedHeadset& h) {
             h.link.stopReader();
             h.mcu.unplug();
             h.mcu.replug();
             h.transport.failNextBypassOff();
         },
         "ok", false},
        {"reset under a live handle (the handle dead, the device back)",
         [](BypassedHeadset& h) {
             h.link.stopReader();
             h.mcu.unplug();
             h.mcu.replug();
         },
         "ok", false},
        {"replugged while the link waits out its reconnect",
         [](BypassedHeadset& h) {
             h.mcu.unplug();
             ASSERT_TRUE(eventually([&] { return h.link.deviceGone(); }));
             h.mcu.replug();
         },
         "ok", false},
        {"silent until dropped, answering again before the reconnect (bypass kept on)",
         [](BypassedHeadset& h) {
             h.mcu.setHung(true);
             ASSERT_TRUE(eventually([&] { return h.link.deviceGone(); }));
             h.mcu.setHung(false);
         },
         "ok", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BypassedHeadset headset;
        ASSERT_TRUE(headset.opened);
        const size_t before = headset.mcu.mcuCommands().size();
        c.fault(headset);
        EXPECT_STREQ(nameOf(headset.restore()), c.verdict);
        // Without the replug, the unplugged MCU keeps its state (as the hung one does).
        EXPECT_EQ(headset.mcu.bypassOn(), c.bypassAfter);
        if (c.bypassAfter == false) {
            EXPECT_NE(headset.acceptedSince(before).find("[R"), std::string::npos)
                << "the device got its '['";
        }
    }
}

// The restore's probe and reads end by the deadline given, whatever the device does.
TEST(BypassRestore, ProbeAndReadsEndByTheDeadline) {
    BypassedHeadset headset;
    ASSERT_TRUE(headset.opened);
    headset.mcu.setHung(true);
    ASSERT_TRUE(eventually([&] { return headset.link.deviceGone(); }));
    const int64_t start = platform::steadyNowNs();
    EXPECT_EQ(headset.link.restoreBypass(start + 100000000), RestoreVerdict::NotConfirmed);
    // Unbounded, the hung MCU and the silent interface after it would each take a 500 ms read.
    EXPECT_LT(platform::steadyNowNs() - start, int64_t(900000000));
}

}  // namespace
}  // namespace corva
