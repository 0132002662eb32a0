// Loads nvapi64.dll from the Windows system directory only, so that a library of that
// name in the application's directory, the current directory or on PATH is never picked
// up. A fixed set of system libraries the driver library depends on is loaded first from
// the same directory. Loading happens once, under a process-wide lock; a failed attempt
// leaves nothing loaded and the next call tries again.
#include "nvapi/loader_win32.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>

namespace corva::nvapi_loader {

namespace {

constexpr DWORD kSearchFlagsToClear = LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                      LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                                      LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
constexpr int kWindows8Level = 9200;
constexpr int kWindows7Level = 7600;

// The system libraries the driver library needs, loaded before it in this order.
constexpr const wchar_t* kPreloadNames[] = {L"msasn1.dll", L"cryptnet.dll", L"drvstore.dll",
                                            L"devobj.dll", L"wldp.dll",     L"cryptbase.dll"};
constexpr size_t kPreloadCount = sizeof(kPreloadNames) / sizeof(kPreloadNames[0]);

// The loader lock: one critical section for the process, created on first use and
// deleted at exit. Recursive, so the preload may take it inside ensureLoaded.
class CSingletonCriticalSection {
  public:
    static CSingletonCriticalSection& instance() {
        static CSingletonCriticalSection section;
        return section;
    }
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

  private:
    CSingletonCriticalSection() { InitializeCriticalSection(&section_); }
    ~CSingletonCriticalSection() { DeleteCriticalSection(&section_); }
    CSingletonCriticalSection(const CSingletonCriticalSection&) = delete;
    CSingletonCriticalSection& operator=(const CSingletonCriticalSection&) = delete;

    CRITICAL_SECTION section_;
};

class LoaderLockGuard {
  public:
    LoaderLockGuard() : section_(CSingletonCriticalSection::instance()) { section_.enter(); }
    ~LoaderLockGuard() { section_.leave(); }
    LoaderLockGuard(const LoaderLockGuard&) = delete;
    LoaderLockGuard& operator=(const LoaderLockGuard&) = delete;

  private:
    CSingletonCriticalSection& section_;
};

bool isBuild9200OrLater() {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwBuildNumber = kWindows8Level;
    const DWORDLONG condition = VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_BUILDNUMBER, condition) != FALSE;
}

constexpr Win32Calls kSystemCalls{LoadLibraryExW,     GetProcAddress,      FreeLibrary,
                                  GetModuleFileNameW, GetSystemDirectoryW, isBuild9200OrLater};
Win32Calls gCalls = kSystemCalls;  // replaced only by tests, before any loading

// The query entry is published before the module, so whoever sees the module sees both.
std::atomic<HMODULE> gDriverModule{nullptr};
std::atomic<QueryInterfaceFn> gQueryEntry{nullptr};

// Guarded by the loader lock; the preloaded modules stay loaded until the process ends.
bool gPreloadSucceeded = true;
HMODULE gPreloadModules[kPreloadCount] = {};
int gWindowsLevel = 0;  // 0 until worked out

int windowsLevel() {
    LoaderLockGuard lock;
    if (gWindowsLevel == 0) gWindowsLevel = gCalls.isBuild9200OrLater() ? kWindows8Level : kWindows7Level;
    return gWindowsLevel;
}

// The system directory with a trailing backslash; empty when it cannot be had.
std::wstring systemDirectory() {
    const UINT needed = gCalls.getSystemDirectory(nullptr, 0);
    if (needed == 0) return {};
    std::wstring directory(needed, L'\0');
    const UINT length = gCalls.getSystemDirectory(directory.data(), needed);
    if (length == 0 || length >= needed) return {};
    directory.resize(length);
    if (directory.back() != L'\\') directory.push_back(L'\\');
    return directory;
}

// Loads a bare file name from the system directory: by search flag where the system has
// it (Windows 8 on), else by full path with every search flag cleared.
HMODULE loadFromSystemDirectory(const wchar_t* name, DWORD flags) {
    if (windowsLevel() == kWindows8Level)
        return gCalls.loadLibraryEx(name, nullptr,
                                    (flags & ~kSearchFlagsToClear) | LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::wstring directory = systemDirectory();
    if (directory.empty()) return nullptr;
    const std::wstring path = directory + name;
    return gCalls.loadLibraryEx(path.c_str(), nullptr,
                                flags & ~(kSearchFlagsToClear | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// Media Foundation's protected pipeline host loads what it needs itself.
bool runningAsProtectedMediaHost() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = gCalls.getModuleFileName(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return false;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
    const size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash == std::wstring::npos) return false;
    return path.compare(lastBackslash, 7, L"\\mfpmp.") == 0;
}

bool preload() {
    LoaderLockGuard lock;
    if (runningAsProtectedMediaHost()) return gPreloadSucceeded;
    for (HMODULE module : gPreloadModules)
        if (module != nullptr) return gPreloadSucceeded;  // loaded once already: final

    gPreloadSucceeded = false;
    for (size_t i = 0; i < kPreloadCount; ++i) {
        gPreloadModules[i] = loadFromSystemDirectory(kPreloadNames[i], 0);
        if (gPreloadModules[i] == nullptr && GetLastError() != ERROR_MOD_NOT_FOUND) return false;
    }
    gPreloadSucceeded = true;
    return true;
}

QueryInterfaceFn toQueryEntry(FARPROC proc) {
    // Through void(*)() so the compiler accepts the change of signature.
    return reinterpret_cast<QueryInterfaceFn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

HMODULE loadSystemLibrary(const wchar_t* name, DWORD flags) {
    if (std::wcschr(name, L'\\') != nullptr || std::wcschr(name, L'/') != nullptr) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }
    windowsLevel();
    if (!preload()) return nullptr;
    return loadFromSystemDirectory(name, flags);
}

NvStatus ensureLoaded() {
    if (gDriverModule.load(std::memory_order_acquire) != nullptr) return kNvOk;
    LoaderLockGuard lock;
    if (gDriverModule.load(std::memory_order_acquire) != nullptr) return kNvOk;

    HMODULE module = loadSystemLibrary(L"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return kNvLibraryNotLoaded;

    QueryInterfaceFn query = toQueryEntry(gCalls.getProcAddress(module, "nvapi_QueryInterface"));
    if (query == nullptr) {
        gCalls.freeLibrary(module);
        return kNvNoQueryEntry;
    }
    auto initialize = reinterpret_cast<InitializeFn>(query(static_cast<uint32_t>(NvInterfaceId::Initialize)));
    if (initialize == nullptr) {
        gCalls.freeLibrary(module);
        return kNvNoQueryEntry;
    }
    if (NvStatus status = initialize(); status != kNvOk) {
        gCalls.freeLibrary(module);
        return status;
    }

    clearEntryPointCache();
    gQueryEntry.store(query, std::memory_order_release);
    gDriverModule.store(module, std::memory_order_release);
    return kNvOk;
}

QueryInterfaceFn queryEntry() {
    return gQueryEntry.load(std::memory_order_acquire);
}

// On Windows the driver library is always nvapi64.dll from the system directory.
void installDriverLibrary(DriverLibraryOpener) {}

void unloadForTesting() {
    LoaderLockGuard lock;
    HMODULE module = gDriverModule.exchange(nullptr);
    gQueryEntry.store(nullptr);
    if (module != nullptr) gCalls.freeLibrary(module);
}

Win32Calls systemCalls() {
    return kSystemCalls;
}

void useWin32CallsForTesting(const Win32Calls& calls) {
    LoaderLockGuard lock;
    gCalls = calls;
    gDriverModule.store(nullptr);
    gQueryEntry.store(nullptr);
    gPreloadSucceeded = true;
    for (HMODULE& module : gPreloadModules) module = nullptr;
    gWindowsLevel = 0;
}

}  // namespace corva::nvapi_loader
