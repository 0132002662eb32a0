// The Windows driver-library loader against a scripted system (which libraries load, what
// the executable is called, which Windows it is), and once against Wine's own loader.
#include "nvapi/loader_win32.h"
#include "nvapi/nvapi.h"
#include "sim/platform/test_hooks_win32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace corva {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;

struct LoadCall {
    std::wstring name;
    DWORD flags;
    bool operator==(const LoadCall&) const = default;
};

// What the scripted system does and what the loader asked of it.
struct FakeSystem {
    bool windows8 = true;
    std::wstring systemDirectory = L"C:\\windows\\system32";
    std::wstring executable = L"C:\\tessaray\\tessaray.exe";
    std::map<std::wstring, DWORD> failures;  // by the name as loaded: the error it fails with
    bool driverHasQueryExport = true;
    bool driverHasInitialize = true;
    NvStatus initializeStatus = kNvOk;
    void* enableEntry = nullptr;  // the driver's EnableDirectMode entry
    std::vector<LoadCall> loads;
    std::vector<std::wstring> frees;
    int initializeCalls = 0;
};
FakeSystem gSystem;

std::wstring gLoadedNames[64];  // a module is its index + 1 into this table

HMODULE WINAPI fakeLoad(LPCWSTR name, HANDLE, DWORD flags) {
    gSystem.loads.push_back({name, flags});
    if (auto failure = gSystem.failures.find(name); failure != gSystem.failures.end()) {
        SetLastError(failure->second);
        return nullptr;
    }
    const size_t index = gSystem.loads.size() - 1;
    gLoadedNames[index % 64] = name;
    return reinterpret_cast<HMODULE>(index % 64 + 1);
}
std::wstring nameOf(HMODULE module) {
    return gLoadedNames[reinterpret_cast<uintptr_t>(module) - 1];
}
bool isDriver(HMODULE module) {
    const std::wstring name = nameOf(module);
    return name.size() >= 11 && name.compare(name.size() - 11, 11, L"nvapi64.dll") == 0;
}

NvStatus fakeInitialize() {
    ++gSystem.initializeCalls;
    return gSystem.initializeStatus;
}
void* fakeQuery(uint32_t id) {
    if (id == static_cast<uint32_t>(NvInterfaceId::Initialize))
        return gSystem.driverHasInitialize ? reinterpret_cast<void*>(&fakeInitialize) : nullptr;
    if (id == static_cast<uint32_t>(NvInterfaceId::EnableDirectMode)) return gSystem.enableEntry;
    return nullptr;
}
FARPROC WINAPI fakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (!isDriver(module) || !gSystem.driverHasQueryExport || std::string(name) != "nvapi_QueryInterface")
        return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fakeQuery));
}
BOOL WINAPI fakeFree(HMODULE module) {
    gSystem.frees.push_back(nameOf(module));
    return TRUE;
}
DWORD WINAPI fakeModuleFileName(HMODULE, LPWSTR path, DWORD size) {
    const std::wstring& name = gSystem.executable;
    if (name.size() >= size) return size;  // truncated, as the system does
    name.copy(path, name.size());
    path[name.size()] = L'\0';
    return static_cast<DWORD>(name.size());
}
UINT WINAPI fakeSystemDirectory(LPWSTR buffer, UINT size) {
    const std::wstring& directory = gSystem.systemDirectory;
    if (size <= directory.size()) return static_cast<UINT>(directory.size() + 1);
    directory.copy(buffer, directory.size());
    buffer[directory.size()] = L'\0';
    return static_cast<UINT>(directory.size());
}
bool fakeWindows8() {
    return gSystem.windows8;
}

NvStatus enableA(uint32_t, uint32_t) {
    return 0xA;
}
NvStatus enableB(uint32_t, uint32_t) {
    return 0xB;
}

const wchar_t* const kPreloads[] = {L"msasn1.dll", L"cryptnet.dll", L"drvstore.dll",
                                    L"devobj.dll", L"wldp.dll",     L"cryptbase.dll"};

class Win32Loader : public ::testing::Test {
  protected:
    void SetUp() override { restart(); }
    void TearDown() override { nvapi_loader::useWin32CallsForTesting(nvapi_loader::systemCalls()); }

    // A fresh process on the scripted system (gSystem keeps its script).
    static void restart() {
        gSystem.loads.clear();
        gSystem.frees.clear();
        gSystem.initializeCalls = 0;
        nvapi_loader::useWin32CallsForTesting(
            {fakeLoad, fakeGetProcAddress, fakeFree, fakeModuleFileName, fakeSystemDirectory, fakeWindows8});
    }
    static std::vector<std::wstring> loadedNames() {
        std::vector<std::wstring> names;
        for (const LoadCall& call : gSystem.loads) names.push_back(call.name);
        return names;
    }
    static std::vector<LoadCall> expectedLoads(const std::wstring& prefix, DWORD flags) {
        std::vector<LoadCall> loads;
        for (const wchar_t* name : kPreloads) loads.push_back({prefix + name, flags});
        loads.push_back({prefix + L"nvapi64.dll", flags});
        return loads;
    }
};

// The preload list in its order, then the driver library, all from the system directory:
// by bare name and the system-directory flag alone from Windows 8 on, by full path with no
// search flag before (whether or not the directory ends in a backslash).
TEST_F(Win32Loader, LoadsThePreloadListInOrderThenTheDriverFromTheSystemDirectoryOnly) {
    struct Case {
        bool windows8;
        std::wstring systemDirectory;
        std::wstring prefix;
        DWORD flags;
    } cases[] = {
        {true, L"C:\\windows\\system32", L"", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {false, L"C:\\windows\\system32", L"C:\\windows\\system32\\", 0},
        {false, L"D:\\sys\\", L"D:\\sys\\", 0},
    };
    for (const Case& c : cases) {
        gSystem = {};
        gSystem.windows8 = c.windows8;
        gSystem.systemDirectory = c.systemDirectory;
        restart();
        EXPECT_EQ(NvAPI_Initialize(), kNvOk);
        EXPECT_EQ(gSystem.loads, expectedLoads(c.prefix, c.flags)) << c.windows8;
        EXPECT_EQ(gSystem.initializeCalls, 1);
        EXPECT_EQ(NvAPI_Initialize(), kNvOk);  // loaded once
        EXPECT_EQ(gSystem.loads.size(), 7u);
        EXPECT_EQ(gSystem.initializeCalls, 1);
    }
}

// The caller's search flags that could reach beyond the system directory are cleared;
// other flags pass through.
TEST_F(Win32Loader, MasksTheCallersSearchFlags) {
    const DWORD widening = LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                           LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    const DWORD other = LOAD_LIBRARY_AS_DATAFILE | DONT_RESOLVE_DLL_REFERENCES;
    struct Case {
        bool windows8;
        DWORD given;
        LoadCall expected;
    } cases[] = {
        {true, widening | other, {L"x.dll", other | LOAD_LIBRARY_SEARCH_SYSTEM32}},
        {true, 0, {L"x.dll", LOAD_LIBRARY_SEARCH_SYSTEM32}},
        {false, widening | other | LOAD_LIBRARY_SEARCH_SYSTEM32, {L"C:\\windows\\system32\\x.dll", other}},
        {false, LOAD_LIBRARY_SEARCH_SYSTEM32, {L"C:\\windows\\system32\\x.dll", 0}},
    };
    for (const Case& c : cases) {
        gSystem = {};
        gSystem.windows8 = c.windows8;
        restart();
        EXPECT_NE(nvapi_loader::loadSystemLibrary(L"x.dll", c.given), nullptr);
        ASSERT_EQ(gSystem.loads.size(), 7u);
        EXPECT_EQ(gSystem.loads.back(), c.expected) << std::hex << c.given;
    }
}

TEST_F(Win32Loader, RefusesNamesWithAPathWithoutLoadingAnything) {
    for (const wchar_t* name : {L"sub\\x.dll", L"sub/x.dll", L"C:\\windows\\system32\\x.dll", L"..\\x.dll"}) {
        SetLastError(0);
        EXPECT_EQ(nvapi_loader::loadSystemLibrary(name, 0), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_ARGUMENTS));
    }
    EXPECT_TRUE(gSystem.loads.empty());
    EXPECT_NE(nvapi_loader::loadSystemLibrary(L"x.dll", 0), nullptr);
}

// A system library that is absent is passed over; any other failure fails the load (-2),
// and for good once a system library had been loaded before it.
TEST_F(Win32Loader, AbsentSystemLibrariesArePassedOverOtherFailuresAreNot) {
    gSystem = {};
    gSystem.failures = {{L"drvstore.dll", ERROR_MOD_NOT_FOUND}, {L"wldp.dll", ERROR_MOD_NOT_FOUND}};
    restart();
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(gSystem.loads, expectedLoads(L"", LOAD_LIBRARY_SEARCH_SYSTEM32));

    gSystem = {};
    gSystem.failures = {{L"cryptnet.dll", ERROR_ACCESS_DENIED}};
    restart();
    EXPECT_EQ(NvAPI_Initialize(), kNvLibraryNotLoaded);
    EXPECT_THAT(loadedNames(), ElementsAre(L"msasn1.dll", L"cryptnet.dll"));
    gSystem.failures.clear();
    EXPECT_EQ(NvAPI_Initialize(), kNvLibraryNotLoaded);  // final: msasn1 was loaded
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvLibraryNotLoaded);
    EXPECT_EQ(gSystem.loads.size(), 2u);

    // Nothing loaded before the failure: the next attempt preloads again.
    gSystem = {};
    gSystem.failures = {{L"msasn1.dll", ERROR_BAD_EXE_FORMAT}};
    restart();
    EXPECT_EQ(NvAPI_Initialize(), kNvLibraryNotLoaded);
    gSystem.failures.clear();
    EXPECT_EQ(NvAPI_Initialize(), kNvOk);
    EXPECT_EQ(gSystem.loads.size(), 8u);
}

// Media Foundation's protected pipeline host ("\mfpmp." after the last backslash, case
// sensitive) skips the preload.
TEST_F(Win32Loader, TheProtectedMediaHostSkipsThePreload) {
    struct Case {
        const wchar_t* executable;
        bool preloads;
    } cases[] = {
        {L"C:\\Windows\\System32\\mfpmp.exe", false},
        {L"C:\\x\\mfpmp.", false},
        {L"C:\\x\\MFPMP.exe", true},
        {L"C:\\x\\mfpmpx.exe", true},
        {L"C:\\mfpmp.d\\tessaray.exe", true},
        {L"C:\\x\\tessaray.exe", true},
    };
    for (const Case& c : cases) {
        gSystem = {};
        gSystem.executable = c.executable;
        restart();
        EXPECT_EQ(NvAPI_Initialize(), kNvOk);
        EXPECT_EQ(gSystem.loads.size(), c.preloads ? 7u : 1u) << c.executable;
        EXPECT_EQ(gSystem.loads.back().name, L"nvapi64.dll");
    }
}

// -2 without the library, -1 without its query export or initialise entry, the driver's
// own status when its initialisation fails; the library is freed each time and the next
// call loads it again.
TEST_F(Win32Loader, FailedLoadsReturnTheirStatusFreeTheLibraryAndAreRetried) {
    struct Case {
        const char* what;
        void (*breakDriver)();
        NvStatus status;
        bool freed;
    } cases[] = {
        {"absent", [] { gSystem.failures[L"nvapi64.dll"] = ERROR_MOD_NOT_FOUND; }, kNvLibraryNotLoaded,
         false},
        {"no export", [] { gSystem.driverHasQueryExport = false; }, kNvNoQueryEntry, true},
        {"no initialise", [] { gSystem.driverHasInitialize = false; }, kNvNoQueryEntry, true},
        {"initialise fails", [] { gSystem.initializeStatus = -5; }, -5, true},
    };
    for (const Case& c : cases) {
        gSystem = {};
        c.breakDriver();
        restart();
        EXPECT_EQ(NvAPI_Initialize(), c.status) << c.what;
        EXPECT_EQ(EnableDirectMode(kVendorId, 0), c.status) << c.what;
        EXPECT_EQ(gSystem.frees, std::vector<std::wstring>(c.freed ? 2 : 0, L"nvapi64.dll")) << c.what;

        gSystem.failures.clear();
        gSystem.driverHasQueryExport = gSystem.driverHasInitialize = true;
        gSystem.initializeStatus = kNvOk;
        EXPECT_EQ(NvAPI_Initialize(), kNvOk) << c.what;
        EXPECT_EQ(loadedNames().back(), L"nvapi64.dll");
        EXPECT_EQ(gSystem.loads.size(), 9u) << c.what;  // six preloads, three driver loads
        EXPECT_EQ(EnableDirectMode(kVendorId, 0), kNvNoEntryPoint) << c.what;
    }
}

TEST_F(Win32Loader, TheEntryPointCacheIsEmptiedWhenTheLibraryIsLoadedAgain) {
    gSystem = {};
    gSystem.enableEntry = reinterpret_cast<void*>(&enableA);
    restart();
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), 0xA);
    gSystem.enableEntry = reinterpret_cast<void*>(&enableB);
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), 0xA);  // cached while loaded
    restart();
    EXPECT_EQ(EnableDirectMode(kVendorId, 0), 0xB);
}

// Wine's real loader: a library beside the executable is loadable, but not through the
// system-directory-only load; once it is in the system directory it is found there.
TEST(Win32LoaderOnTheSystem, ALibraryBesideTheExecutableIsNotFoundOnlyOneInTheSystemDirectory) {
    namespace fs = std::filesystem;
    wchar_t buffer[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, buffer, MAX_PATH), 0u);
    const fs::path executable(buffer);
    ASSERT_GT(GetSystemDirectoryW(buffer, MAX_PATH), 0u);
    const std::wstring name = L"tessaray-probe-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
    const fs::path beside = executable.parent_path() / name;
    const fs::path inSystem = fs::path(buffer) / name;
    struct Cleanup {
        std::vector<HMODULE> modules;
        std::vector<fs::path> files;
        ~Cleanup() {
            nvapi_loader::useWin32CallsForTesting(nvapi_loader::systemCalls());
            for (HMODULE module : modules) FreeLibrary(module);
            std::error_code ignored;
            for (const fs::path& file : files) fs::remove(file, ignored);
        }
    } cleanup;
    auto loadAsSystemLibrary = [&](bool windows8) {
        nvapi_loader::Win32Calls calls = nvapi_loader::systemCalls();
        calls.isBuild9200OrLater = windows8 ? +[] { return true; } : +[] { return false; };
        nvapi_loader::useWin32CallsForTesting(calls);
        SetLastError(0);
        HMODULE module = nvapi_loader::loadSystemLibrary(name.c_str(), LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
        if (module != nullptr) cleanup.modules.push_back(module);
        return module;
    };

    // Any image will do: this test program's own.
    std::error_code error;
    cleanup.files.push_back(beside);
    ASSERT_TRUE(fs::copy_file(executable, beside, error)) << error.message();
    // A search of the program's folder finds it (the process's default search may already
    // leave that folder out). Freed at once: a loaded module is found by name alone.
    HMODULE found = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    ASSERT_NE(found, nullptr) << GetLastError();
    FreeLibrary(found);
    for (bool windows8 : {true, false}) {
        EXPECT_EQ(loadAsSystemLibrary(windows8), nullptr) << windows8;
        // Not found by name; by full path (before Windows 8) Wine says the file is missing.
        EXPECT_THAT(GetLastError(), AnyOf(DWORD(ERROR_MOD_NOT_FOUND), DWORD(ERROR_FILE_NOT_FOUND)));
    }

    cleanup.files.push_back(inSystem);
    if (!fs::copy_file(executable, inSystem, error))
        GTEST_SKIP() << "the system directory is not writable here: " << error.message();
    for (bool windows8 : {true, false}) EXPECT_NE(loadAsSystemLibrary(windows8), nullptr) << GetLastError();
}

}  // namespace
}  // namespace corva
