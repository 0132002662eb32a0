// The simulated driver's core and settings store, driven through the real operations.
#include "nvapi/loader.h"
#include "nvapi/nvapi.h"
#include "sim/driver/sim_driver.h"
#include "sim/driver/sim_driver_config.h"
#include "tests/support/environment.h"
#include "tests/support/sim_driver_sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace corva {
namespace {

class SimDriver : public ::testing::Test {
  protected:
    test::SimDriverSandbox sandbox;
};

// Records on the heap: they are 4 to 20 KiB each.
template <class Record>
std::unique_ptr<Record> record(uint32_t version) {
    auto value = std::make_unique<Record>();
    value->version = version;
    return value;
}

void setName(char16_t (&field)[kNvUnicodeLength], const std::u16string& name) {
    std::memset(field, 0, sizeof field);
    name.copy(field, name.size());
}

NvStatus createProfile(NvDRSSessionHandle session, const std::u16string& name, NvDRSProfileHandle* profile) {
    auto info = record<NVDRS_PROFILE>(NVDRS_PROFILE_VER);
    setName(info->profileName, name);
    return NvAPI_DRS_CreateProfile(session, info.get(), profile);
}

NvStatus createApplication(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                           const std::u16string& name) {
    auto app = record<NVDRS_APPLICATION>(NVDRS_APPLICATION_VER);
    setName(app->appName, name);
    return NvAPI_DRS_CreateApplication(session, profile, app.get());
}

NvStatus setValue(NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t id, uint32_t value) {
    auto setting = record<NVDRS_SETTING>(NVDRS_SETTING_VER);
    setting->settingId = id;
    setting->settingType = NVDRS_DWORD_TYPE;
    setting->currentValue.u32 = value;
    return NvAPI_DRS_SetSetting(session, profile, setting.get());
}

NvStatus find(NvDRSSessionHandle session, const char16_t* name, NvDRSProfileHandle* profile) {
    auto app = record<NVDRS_APPLICATION>(NVDRS_APPLICATION_VER);
    return NvAPI_DRS_FindApplicationByName(session, name, profile, app.get());
}

NvDRSSessionHandle openLoadedSession() {
    NvDRSSessionHandle session = nullptr;
    EXPECT_EQ(NvAPI_DRS_CreateSession(&session), kNvOk);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), kNvOk);
    return session;
}

TEST_F(SimDriver, AnswersItsOwnIdsAndNothingElse) {
    for (NvInterfaceId id :
         {NvInterfaceId::Initialize, NvInterfaceId::GetDriverAndBranchVersion,
          NvInterfaceId::DrsCreateSession, NvInterfaceId::DrsLoadSettings,
          NvInterfaceId::DrsFindApplicationByName, NvInterfaceId::DrsCreateProfile,
          NvInterfaceId::DrsCreateApplication, NvInterfaceId::DrsGetSetting, NvInterfaceId::DrsSetSetting,
          NvInterfaceId::DrsSaveSettings, NvInterfaceId::DrsDestroySession})
        EXPECT_NE(sim::queryInterface(static_cast<uint32_t>(id)), nullptr) << std::hex << uint32_t(id);
    for (uint32_t unknown : {0u, 1u, 0x0150E829u, 0xDEADBEEFu, 0xFFFFFFFFu})
        EXPECT_EQ(sim::queryInterface(unknown), nullptr) << std::hex << unknown;
}

TEST_F(SimDriver, ReportsItsVersionAndBranchWithinTheCallersBuffer) {
    uint32_t version = 0;
    char branch[64];
    ASSERT_EQ(NvAPI_SYS_GetDriverAndBranchVersion(&version, branch), kNvOk);
    EXPECT_EQ(version, 55123u);
    EXPECT_STREQ(branch, "r550_00");

    sim::setDriverVersion(47114, std::string(200, 'b'));
    char guarded[65];
    std::memset(guarded, 'X', sizeof guarded);
    ASSERT_EQ(NvAPI_SYS_GetDriverAndBranchVersion(&version, guarded), kNvOk);
    EXPECT_EQ(version, 47114u);
    EXPECT_EQ(std::strlen(guarded), 63u);
    EXPECT_EQ(guarded[64], 'X') << "wrote past the 64-byte branch buffer";
}

TEST_F(SimDriver, InjectedInitialiseFailureIsReturnedAndRetried) {
    sim::DriverFaults faults;
    faults.initialize = -104;
    sim::setFaults(faults);
    EXPECT_EQ(NvAPI_Initialize(), -104);
    EXPECT_EQ(NvAPI_Initialize(), -104);
    sim::setFaults({});
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(sim::initializeCount(), 3);
}

TEST_F(SimDriver, SavedSettingsPersistAndUnsavedOnesAreLost) {
    NvDRSSessionHandle session = openLoadedSession();
    NvDRSProfileHandle profile = nullptr;
    ASSERT_EQ(createProfile(session, u"kept", &profile), kNvOk);
    ASSERT_EQ(createApplication(session, profile, u"kept.exe"), kNvOk);
    ASSERT_EQ(setValue(session, profile, 0x42, 0xFFFFFFFF), kNvOk);
    ASSERT_EQ(NvAPI_DRS_SaveSettings(session), kNvOk);
    ASSERT_EQ(createProfile(session, u"lost", &profile), kNvOk);
    ASSERT_EQ(createApplication(session, profile, u"lost.exe"), kNvOk);
    ASSERT_EQ(NvAPI_DRS_DestroySession(session), kNvOk);

    // A restarted driver reads the same file.
    const auto file = sandbox.storeFile();
    sim::resetDriverState();
    sim::setDrsStoreFile(file);
    session = openLoadedSession();
    EXPECT_EQ(find(session, u"lost.exe", &profile), sim::kSimNotFound);
    ASSERT_EQ(find(session, u"KEPT.exe", &profile), kNvOk);
    auto setting = record<NVDRS_SETTING>(NVDRS_SETTING_VER);
    ASSERT_EQ(NvAPI_DRS_GetSetting(session, profile, 0x42, setting.get()), kNvOk);
    EXPECT_EQ(setting->currentValue.u32, 0xFFFFFFFFu);
    EXPECT_EQ(setting->settingType, NVDRS_DWORD_TYPE);
    EXPECT_EQ(NvAPI_DRS_GetSetting(session, profile, 0x43, setting.get()), sim::kSimNotFound);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), kNvOk);
}

TEST_F(SimDriver, SessionsWorkOnTheirOwnCopies) {
    NvDRSSessionHandle first = openLoadedSession();
    NvDRSSessionHandle second = openLoadedSession();
    NvDRSProfileHandle profile = nullptr;
    ASSERT_EQ(createProfile(first, u"one", &profile), kNvOk);
    ASSERT_EQ(createApplication(first, profile, u"one.exe"), kNvOk);
    EXPECT_EQ(find(second, u"one.exe", &profile), sim::kSimNotFound);
    ASSERT_EQ(NvAPI_DRS_SaveSettings(first), kNvOk);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(second), kNvOk);
    EXPECT_EQ(find(second, u"one.exe", &profile), kNvOk);
    EXPECT_EQ(sim::openSessionCount(), 2);
    EXPECT_EQ(NvAPI_DRS_DestroySession(first), kNvOk);
    EXPECT_EQ(NvAPI_DRS_DestroySession(second), kNvOk);
    EXPECT_EQ(NvAPI_DRS_DestroySession(second), sim::kSimInvalidHandle);
}

TEST_F(SimDriver, RefusesWhatARealStoreRefuses) {
    NvDRSSessionHandle session = openLoadedSession();
    NvDRSProfileHandle profile = nullptr;
    ASSERT_EQ(createProfile(session, u"p", &profile), kNvOk);
    NvDRSProfileHandle ignored = nullptr;
    EXPECT_EQ(createProfile(session, u"p", &ignored), sim::kSimNameInUse);
    EXPECT_EQ(createProfile(session, u"", &ignored), sim::kSimInvalidArgument);
    EXPECT_EQ(createProfile(session, u"two\nlines", &ignored), sim::kSimInvalidArgument);
    ASSERT_EQ(createApplication(session, profile, u"a.exe"), kNvOk);
    NvDRSProfileHandle other = nullptr;
    ASSERT_EQ(createProfile(session, u"q", &other), kNvOk);
    EXPECT_EQ(createApplication(session, other, u"A.EXE"), sim::kSimNameInUse);

    // Records without their version word, or of another size.
    auto unversioned = record<NVDRS_SETTING>(0);
    EXPECT_EQ(NvAPI_DRS_GetSetting(session, profile, 1, unversioned.get()), sim::kSimIncompatibleVersion);
    auto app = record<NVDRS_APPLICATION>(NVDRS_APPLICATION_VER - 1);
    EXPECT_EQ(NvAPI_DRS_FindApplicationByName(session, u"a.exe", &ignored, app.get()),
              sim::kSimIncompatibleVersion);

    // A name filling the whole field without a terminator is not read past the field.
    auto unterminated = record<NVDRS_PROFILE>(NVDRS_PROFILE_VER);
    std::fill(std::begin(unterminated->profileName), std::end(unterminated->profileName), u'x');
    EXPECT_EQ(NvAPI_DRS_CreateProfile(session, unterminated.get(), &ignored), sim::kSimInvalidArgument);

    // Handles the driver never gave out.
    EXPECT_EQ(setValue(session, reinterpret_cast<NvDRSProfileHandle>(uintptr_t(99)), 1, 1),
              sim::kSimInvalidHandle);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(reinterpret_cast<NvDRSSessionHandle>(uintptr_t(12345))),
              sim::kSimInvalidHandle);
    auto binary = record<NVDRS_SETTING>(NVDRS_SETTING_VER);
    binary->settingType = 1;
    EXPECT_EQ(NvAPI_DRS_SetSetting(session, profile, binary.get()), sim::kSimInvalidArgument);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), kNvOk);
}

TEST_F(SimDriver, StoreFileRoundTripsAsciiNamesAndRejectsOthersAndCorruption) {
    sim::DrsDatabase written;
    written.profiles.push_back({"Headset tools - VR", {"Tessaray.EXE", "plain.exe"}, {{0x1057EB71, 1}}});
    written.profiles.push_back({"empty", {}, {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}}});
    ASSERT_TRUE(sim::writeDrsDatabase(sandbox.storeFile(), written));
    sim::DrsDatabase read;
    ASSERT_TRUE(sim::readDrsDatabase(sandbox.storeFile(), read));
    ASSERT_EQ(read.profiles.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(read.profiles[i].name == written.profiles[i].name);
        EXPECT_TRUE(read.profiles[i].applications == written.profiles[i].applications);
        EXPECT_EQ(read.profiles[i].settings, written.profiles[i].settings);
    }
    std::stringstream text;
    text << std::ifstream(sandbox.storeFile()).rdbuf();
    EXPECT_NE(text.str().find("profile Headset tools - VR\napp Tessaray.EXE\n"), std::string::npos)
        << text.str();

    // The file is one item a line, the program's names plain ASCII: others are refused.
    for (const char* name : {"Caf\xC3\xA9", "two\nlines", ""}) {
        sim::DrsDatabase other;
        other.profiles.push_back({name, {}, {}});
        EXPECT_FALSE(sim::writeDrsDatabase(sandbox.storeFile(), other)) << name;
    }
    NvDRSSessionHandle session = openLoadedSession();
    NvDRSProfileHandle ignored = nullptr;
    EXPECT_EQ(createProfile(session, u"Caf\u00e9", &ignored), sim::kSimInvalidArgument);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), kNvOk);

    const char* corrupt[] = {
        "something else\n",
        "tessaray-sim driver settings 1\napp early.exe\n",
        "tessaray-sim driver settings 1\nprofile p\nsetting 0x1 1\n",
        "tessaray-sim driver settings 1\nprofile p\nsetting 0x1 0x100000000\n",
        "tessaray-sim driver settings 1\nprofile p\nwhat 0x1\n",
        "tessaray-sim driver settings 1\nprofile \xC3\n",
        "tessaray-sim driver settings 1\nprofile \xC0\xAF\n",
    };
    for (const char* contents : corrupt) {
        std::ofstream(sandbox.storeFile(), std::ios::binary | std::ios::trunc) << contents;
        EXPECT_FALSE(sim::readDrsDatabase(sandbox.storeFile(), read)) << contents;
    }
    std::ofstream(sandbox.storeFile(), std::ios::binary | std::ios::trunc)
        << "tessaray-sim driver settings 1\r\n";
    EXPECT_TRUE(sim::readDrsDatabase(sandbox.storeFile(), read));
    EXPECT_TRUE(read.profiles.empty());
}

TEST_F(SimDriver, StoreFileComesFromTheEnvironmentUnlessSet) {
    const auto chosen = sandbox.storeFile();
    sim::setDrsStoreFile({});
    const auto fromEnvironment = chosen.parent_path() / "env.txt";
    test::setEnvironmentVariable("TESSARAY_SIM_DRS_FILE", fromEnvironment.string().c_str());
    EXPECT_EQ(sim::drsStoreFile(), fromEnvironment);
    test::unsetEnvironmentVariable("TESSARAY_SIM_DRS_FILE");
    EXPECT_EQ(sim::drsStoreFile().filename(), "tessaray-sim-drs.txt");
    sim::setDrsStoreFile(chosen);
    EXPECT_EQ(sim::drsStoreFile(), chosen);
}

}  // namespace
}  // namespace corva
