// pinDriverProfile() against the simulated driver-settings store: its one line per
// outcome, what ends up in the store, and that the session is always closed.
#include "present/driver_profile.h"
#include "tests/support/sample_lines.h"

#include "nvapi/nvapi.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_driver_config.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/simulated_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace corva {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t kPowerManagementMode = 0x1057EB71;
const std::string kPinnedLine = test::printed(lines::kProfilePinned);
const std::string kFailedLine = test::printed(lines::kProfileFailed);

struct Output {
    std::string out;
    std::string err;
};

class DriverProfile : public ::testing::Test {
  protected:
    // As in the presenter's bring-up: the driver interface is initialised first.
    void SetUp() override { ASSERT_EQ(NvAPI_Initialize(), kNvOk); }

    Output pin() {
        sim::CallLog::instance().clear();
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        pinDriverProfile();
        Output output;
        output.err = ::testing::internal::GetCapturedStderr();
        output.out = ::testing::internal::GetCapturedStdout();
        return output;
    }
    sim::DrsDatabase stored() const {
        sim::DrsDatabase database;
        EXPECT_TRUE(sim::readDrsDatabase(sandbox.storeFile(), database));
        return database;
    }
    void store(const sim::DrsDatabase& database) const {
        ASSERT_TRUE(sim::writeDrsDatabase(sandbox.storeFile(), database));
    }
    static std::vector<std::string> calls() { return sim::CallLog::instance().calls(); }
    static void inject(int32_t sim::DriverFaults::*fault, int32_t status = sim::kSimError) {
        sim::DriverFaults faults;
        faults.*fault = status;
        sim::setFaults(faults);
    }

    test::SimDriverSandbox sandbox;
};

// The store after a successful first start.
sim::DrsDatabase pinnedStore() {
    sim::DrsDatabase database;
    database.profiles.push_back({"corva", {"tessaray.exe"}, {{kPowerManagementMode, 1}}});
    return database;
}

void expectSameStore(const sim::DrsDatabase& actual, const sim::DrsDatabase& expected) {
    ASSERT_EQ(actual.profiles.size(), expected.profiles.size());
    for (size_t i = 0; i < expected.profiles.size(); ++i) {
        EXPECT_TRUE(actual.profiles[i].name == expected.profiles[i].name) << "profile " << i;
        EXPECT_TRUE(actual.profiles[i].applications == expected.profiles[i].applications) << "profile " << i;
        EXPECT_EQ(actual.profiles[i].settings, expected.profiles[i].settings) << "profile " << i;
    }
}

TEST_F(DriverProfile, FirstStartCreatesProfileAndApplicationAndPins) {
    const Output output = pin();
    EXPECT_EQ(output.out, kPinnedLine);
    EXPECT_EQ(output.err, "");
    EXPECT_THAT(calls(),
                ElementsAre("NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                            "NvAPI_DRS_FindApplicationByName(tessaray.exe)", "NvAPI_DRS_CreateProfile(corva)",
                            "NvAPI_DRS_CreateApplication(tessaray.exe)", "NvAPI_DRS_GetSetting(0x1057eb71)",
                            "NvAPI_DRS_SetSetting(0x1057eb71=0x1)", "NvAPI_DRS_SaveSettings",
                            "NvAPI_DRS_DestroySession"));
    expectSameStore(stored(), pinnedStore());
    EXPECT_EQ(sim::openSessionCount(), 0);
}

TEST_F(DriverProfile, SecondStartFindsThePinnedSettingAndPrintsNothing) {
    ASSERT_EQ(pin().out, kPinnedLine);
    const Output second = pin();
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "");
    EXPECT_THAT(calls(), ElementsAre("NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                                     "NvAPI_DRS_FindApplicationByName(tessaray.exe)",
                                     "NvAPI_DRS_GetSetting(0x1057eb71)", "NvAPI_DRS_DestroySession"));
    expectSameStore(stored(), pinnedStore());
}

TEST_F(DriverProfile, OtherValueInTheApplicationsOwnProfileIsOverwritten) {
    sim::DrsDatabase before;
    before.profiles.push_back({"Games", {"game.exe"}, {{kPowerManagementMode, 0}}});
    before.profiles.push_back(
        {"Headset tools", {"other.exe", "Tessaray.EXE"}, {{kPowerManagementMode, 2}, {7, 9}}});
    store(before);

    const Output output = pin();
    EXPECT_EQ(output.out, kPinnedLine);
    EXPECT_EQ(output.err, "");

    sim::DrsDatabase expected = before;
    expected.profiles[1].settings[kPowerManagementMode] = 1;  // only that one changes
    expectSameStore(stored(), expected);
    EXPECT_EQ(pin().out, "");
}

TEST_F(DriverProfile, SettingAbsentFromFoundProfileIsWritten) {
    sim::DrsDatabase before;
    before.profiles.push_back({"corva", {"tessaray.exe"}, {}});
    store(before);
    EXPECT_EQ(pin().out, kPinnedLine);
    expectSameStore(stored(), pinnedStore());
}

TEST_F(DriverProfile, RefusedSaveReportsOnStderrAndKeepsTheStore) {
    inject(&sim::DriverFaults::saveSettings);
    const Output output = pin();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, kFailedLine);
    EXPECT_EQ(calls().back(), "NvAPI_DRS_DestroySession");
    EXPECT_EQ(sim::openSessionCount(), 0);
    EXPECT_THAT(stored().profiles, IsEmpty()) << "nothing was saved";

    // With the save allowed again the next start pins.
    sim::setFaults({});
    EXPECT_EQ(pin().out, kPinnedLine);
}

TEST_F(DriverProfile, NoSessionPrintsNothingAndCallsNothingElse) {
    inject(&sim::DriverFaults::createSession);
    const Output output = pin();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_THAT(calls(), ElementsAre("NvAPI_DRS_CreateSession"));
}

TEST_F(DriverProfile, DriverLibraryUnavailablePrintsNothing) {
    test::installNoDriver();
    const Output output = pin();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_THAT(calls(), IsEmpty());
}

// A failing step after the session exists: the failure line alone, and the session closed.
TEST_F(DriverProfile, EachRefusedStepReportsTheFailureLineAndClosesTheSession) {
    const std::pair<const char*, int32_t sim::DriverFaults::*> refusals[] = {
        {"load", &sim::DriverFaults::loadSettings},
        {"create profile", &sim::DriverFaults::createProfile},
        {"create application", &sim::DriverFaults::createApplication},
        {"set", &sim::DriverFaults::setSetting},
        {"save", &sim::DriverFaults::saveSettings},
    };
    for (const auto& [step, fault] : refusals) {
        inject(fault);
        const Output output = pin();
        EXPECT_EQ(output.out, "") << step;
        EXPECT_EQ(output.err, kFailedLine) << step;
        ASSERT_FALSE(calls().empty());
        EXPECT_EQ(calls().back(), "NvAPI_DRS_DestroySession") << step;
        EXPECT_EQ(sim::openSessionCount(), 0) << step;
        EXPECT_THAT(stored().profiles, IsEmpty()) << step;
    }
}

TEST_F(DriverProfile, UnreadableStoreReportsTheFailureLine) {
    std::ofstream(sandbox.storeFile(), std::ios::binary) << "not a settings database\n";
    const Output output = pin();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, kFailedLine);
}

TEST_F(DriverProfile, FailedReadCountsAsNotSet) {
    store(pinnedStore());
    inject(&sim::DriverFaults::getSetting);
    EXPECT_EQ(pin().out, kPinnedLine);  // written and saved again
    expectSameStore(stored(), pinnedStore());
}

TEST_F(DriverProfile, FailedLookUpCountsAsNotFound) {
    inject(&sim::DriverFaults::findApplication);
    EXPECT_EQ(pin().out, kPinnedLine);  // nothing there yet: created as on a first start
    expectSameStore(stored(), pinnedStore());

    // Already there: creating "corva" again is refused by the store.
    const Output output = pin();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, kFailedLine);
    expectSameStore(stored(), pinnedStore());
}

}  // namespace
}  // namespace corva
