// The loader's statuses and its load-once / retry rules, with driver libraries of the
// tests' own making put where the driver library would be.
#include "nvapi/loader.h"
#include "nvapi/nvapi.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_driver.h"

#include <gtest/gtest.h>

#include <cstring>

namespace corva {
namespace {

// A fake driver: which ids it answers and what its entries did.
struct FakeDriver {
    int opens = 0;
    int initializeCalls = 0;
    NvStatus initializeStatus = kNvOk;  // answered by the initialise entry
    int initializeFailuresLeft = 0;     // the first N initialisations answer initializeStatus
    bool hasInitialize = true;
    bool hasVersion = true;
    bool hasEnable = true;
    uint32_t reportedVersion = 0;
    NvStatus enableStatus = kNvOk;
    uint32_t enableVendor = 0;
    uint32_t enableFlags = 0;
};
FakeDriver gFake;

NvStatus fakeInitialize() {
    ++gFake.initializeCalls;
    if (gFake.initializeFailuresLeft > 0) {
        --gFake.initializeFailuresLeft;
        return gFake.initializeStatus;
    }
    return kNvOk;
}

NvStatus fakeVersion(uint32_t* version, char* branch) {
    *version = gFake.reportedVersion;
    std::strcpy(branch, "fake");
    return kNvOk;
}

NvStatus fakeEnable(uint32_t vendor, uint32_t flags) {
    gFake.enableVendor = vendor;
    gFake.enableFlags = flags;
    return gFake.enableStatus;
}

void* fakeQuery(uint32_t id) {
    switch (static_cast<NvInterfaceId>(id)) {
        case NvInterfaceId::Initialize:
            return gFake.hasInitialize ? reinterpret_cast<void*>(&fakeInitialize) : nullptr;
        case NvInterfaceId::GetDriverAndBranchVersion:
            return gFake.hasVersion ? reinterpret_cast<void*>(&fakeVersion) : nullptr;
        case NvInterfaceId::EnableDirectMode:
            return gFake.hasEnable ? reinterpret_cast<void*>(&fakeEnable) : nullptr;
        default:
            return nullptr;
    }
}

nvapi_loader::DriverLibrary openFake() {
    ++gFake.opens;
    return {true, fakeQuery};
}
nvapi_loader::DriverLibrary openMissingLibrary() {
    ++gFake.opens;
    return {false, nullptr};
}
nvapi_loader::DriverLibrary openLibraryWithoutExport() {
    ++gFake.opens;
    return {true, nullptr};
}
nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, sim::queryInterface};
}

// A second library that answers only initialise and the version, with its own version.
NvStatus otherVersion(uint32_t* version, char* branch) {
    *version = 2;
    std::strcpy(branch, "other");
    return kNvOk;
}
void* otherQuery(uint32_t id) {
    if (id == static_cast<uint32_t>(NvInterfaceId::Initialize))
        return reinterpret_cast<void*>(&fakeInitialize);
    if (id == static_cast<uint32_t>(NvInterfaceId::GetDriverAndBranchVersion))
        return reinterpret_cast<void*>(&otherVersion);
    return nullptr;
}
nvapi_loader::DriverLibrary openOtherLibrary() {
    return {true, otherQuery};
}

class NvapiLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        gFake = FakeDriver{};
        nvapi_loader::unloadForTesting();
    }
    void TearDown() override {
        nvapi_loader::installDriverLibrary(openSimulatedDriver);
        nvapi_loader::unloadForTesting();
    }
    static void use(nvapi_loader::DriverLibraryOpener opener) { nvapi_loader::installDriverLibrary(opener); }
};

NvStatus versionStatus(uint32_t* version = nullptr) {
    uint32_t ignored = 0;
    char branch[64] = {};
    return NvAPI_SYS_GetDriverAndBranchVersion(version != nullptr ? version : &ignored, branch);
}

TEST_F(NvapiLoader, MissingLibraryFailsEveryOperationAndIsRetriedEachTime) {
    use(openMissingLibrary);
    EXPECT_EQ(NvAPI_Initialize(), kNvLibraryNotLoaded);
    EXPECT_EQ(versionStatus(), kNvLibraryNotLoaded);
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvLibraryNotLoaded);
    NvDRSSessionHandle session = nullptr;
    EXPECT_EQ(NvAPI_DRS_CreateSession(&session), kNvLibraryNotLoaded);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), kNvLibraryNotLoaded);
    EXPECT_EQ(gFake.opens, 5);
    EXPECT_EQ(nvapi_loader::queryEntry(), nullptr);

    // The library appears: the next call loads it.
    use(openFake);
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(gFake.initializeCalls, 1);
}

TEST_F(NvapiLoader, NoQueryEntryOrNoInitialiseEntryIsMinusOne) {
    use(openLibraryWithoutExport);
    EXPECT_EQ(NvAPI_Initialize(), kNvNoQueryEntry);
    EXPECT_EQ(versionStatus(), kNvNoQueryEntry);

    use(openFake);
    gFake.hasInitialize = false;
    EXPECT_EQ(NvAPI_Initialize(), kNvNoQueryEntry);
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvNoQueryEntry);
    EXPECT_EQ(gFake.enableVendor, 0u) << "no operation may run on an uninitialised driver";
}

TEST_F(NvapiLoader, UnknownIdIsMinusThreeWhileOthersWork) {
    use(openFake);
    gFake.hasEnable = false;
    gFake.reportedVersion = 55123;
    ASSERT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvNoEntryPoint);
    uint32_t version = 0;
    EXPECT_EQ(versionStatus(&version), kNvOk);
    EXPECT_EQ(version, 55123u);
    NvDRSSessionHandle session = nullptr;
    EXPECT_EQ(NvAPI_DRS_CreateSession(&session), kNvNoEntryPoint);
}

TEST_F(NvapiLoader, ArgumentsAndDriverStatusesPassThroughUnchanged) {
    use(openFake);
    gFake.enableStatus = kNvHdcpDisabled;
    EXPECT_EQ(EnableDirectMode(0x2709, 0xA5), kNvHdcpDisabled);
    EXPECT_EQ(gFake.enableVendor, 0x2709u);
    EXPECT_EQ(gFake.enableFlags, 0xA5u);
}

TEST_F(NvapiLoader, FailedInitialisationIsRetriedByTheNextCall) {
    use(openFake);
    gFake.initializeStatus = -104;
    gFake.initializeFailuresLeft = 1;
    EXPECT_EQ(NvAPI_Initialize(), -104);
    EXPECT_EQ(nvapi_loader::queryEntry(), nullptr);
    EXPECT_EQ(versionStatus(), kNvOk);  // loads and initialises again
    EXPECT_EQ(gFake.opens, 2);
    EXPECT_EQ(gFake.initializeCalls, 2);
}

TEST_F(NvapiLoader, InitialisesOnlyOnce) {
    use(openFake);
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(versionStatus(), kNvOk);
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(gFake.opens, 1);
    EXPECT_EQ(gFake.initializeCalls, 1);
}

TEST_F(NvapiLoader, EntryPointCacheIsEmptiedWhenTheLibraryIsLoadedAgain) {
    use(openFake);
    gFake.reportedVersion = 1;
    uint32_t version = 0;
    ASSERT_EQ(versionStatus(&version), kNvOk);  // fills the slot with the fake's entry
    ASSERT_EQ(EnableDirectMode(kVendorId, 0), kNvOk);

    // Another library: its own entries must be used, and ids it lacks must not fall back
    // on the previous library's.
    nvapi_loader::unloadForTesting();
    use(openOtherLibrary);
    ASSERT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(versionStatus(&version), kNvOk);
    EXPECT_EQ(version, 2u);
    gFake.enableVendor = 0;
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvNoEntryPoint);
    EXPECT_EQ(gFake.enableVendor, 0u) << "stale entry point of the previous library called";
}

}  // namespace
}  // namespace corva
