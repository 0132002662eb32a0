// Loads nvapi64.dll from the Windows system directory only, so that a library of that
// name in the application's directory, the current directory or on PATH is never picked
// up. A fixed set of system libraries the driver library depends on is loaded first from
// the same directory. Loading happens once, under a process-wide lock; a failed attempt
// leaves nothing loaded and the next call tries again.
#include "nvapi/loader_win32.h"

#include "nvapi/loader_state.h"

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
static_assert(sizeof(kPreloadNames) / sizeof(kPreloadNames[0]) == detail::kPreloadCount);
using detail::kPreloadCount;

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

using detail::LoaderLockGuard;

bool isBuild9200OrLater() {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwBuildNumber = kWindows8Level;
    const DWORDLONG condition = VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_BUILDNUMBER, condition) != FALSE;
}

constexpr Win32Calls kSystemCalls{LoadLibraryExW,     GetProcAddress,      FreeLibrary,
                                  GetModuleFileNameW, GetSystemDirectoryW, isBuild9200OrLater};

// Constant-initialised: no guard on the per-call fast path.
detail::LoaderState gState;
detail::Win32LoaderState gWin32{kSystemCalls};

int windowsLevel() {
    LoaderLockGuard lock;
    if (gWin32.windowsLevel == 0)
        gWin32.windowsLevel = gWin32.calls.isBuild9200OrLater() ? kWindows8Level : kWindows7Level;
    return gWin32.windowsLevel;
}

// The system directory with a trailing backslash; empty when it cannot be had.
std::wstring systemDirectory() {
    const UINT needed = gWin32.calls.getSystemDirectory(nullptr, 0);
    if (needed == 0) return {};
    std::wstring directory(needed, L'\0');
    const UINT length = gWin32.calls.getSystemDirectory(directory.data(), needed);
    if (length == 0 || length >= needed) return {};
    directory.resize(length);
    if (directory.back() != L'\\') directory.push_back(L'\\');
    return directory;
}

// Loads a bare file name from the system directory: by search flag where the system has
// it (Windows 8 on), else by full path with every search flag cleared.
HMODULE loadFromSystemDirectory(const wchar_t* name, DWORD flags) {
    if (windowsLevel() == kWindows8Level)
        return gWin32.calls.loadLibraryEx(name, nullptr,
                                          (flags & ~kSearchFlagsToClear) | LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::wstring directory = systemDirectory();
    if (directory.empty()) return nullptr;
    const std::wstring path = directory + name;
    return gWin32.calls.loadLibraryEx(path.c_str(), nullptr,
                                      flags & ~(kSearchFlagsToClear | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// Media Foundation's protected pipeline host loads what it needs itself.
bool runningAsProtectedMediaHost() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            gWin32.calls.getModuleFileName(nullptr, path.data(), static_cast<DWORD>(path.size()));
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
    if (runningAsProtectedMediaHost()) return gWin32.preloadSucceeded;
    for (HMODULE module : gWin32.preloadModules)
        if (module != nullptr) return gWin32.preloadSucceeded;  // loaded once already: final

    gWin32.preloadSucceeded = false;
    for (size_t i = 0; i < kPreloadCount; ++i) {
        gWin32.preloadModules[i] = loadFromSystemDirectory(kPreloadNames[i], 0);
        if (gWin32.preloadModules[i] == nullptr && GetLastError() != ERROR_MOD_NOT_FOUND) return false;
    }
    gWin32.preloadSucceeded = true;
    return true;
}

QueryInterfaceFn toQueryEntry(FARPROC proc) {
    // Through void(*)() so the compiler accepts the change of signature.
    return reinterpret_cast<QueryInterfaceFn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

detail::LoaderState& detail::state() {
    return gState;
}

detail::Win32LoaderState& detail::win32State() {
    return gWin32;
}

void detail::lockLoader() {
    CSingletonCriticalSection::instance().enter();
}

void detail::unlockLoader() {
    CSingletonCriticalSection::instance().leave();
}

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
    if (gState.module.load(std::memory_order_acquire) != nullptr) return kNvOk;
    LoaderLockGuard lock;
    if (gState.module.load(std::memory_order_acquire) != nullptr) return kNvOk;

    HMODULE module = loadSystemLibrary(L"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return kNvLibraryNotLoaded;

    QueryInterfaceFn query = toQueryEntry(gWin32.calls.getProcAddress(module, "nvapi_QueryInterface"));
    if (query == nullptr) {
        gWin32.calls.freeLibrary(module);
        return kNvNoQueryEntry;
    }
    auto initialize = reinterpret_cast<InitializeFn>(query(static_cast<uint32_t>(NvInterfaceId::Initialize)));
    if (initialize == nullptr) {
        gWin32.calls.freeLibrary(module);
        return kNvNoQueryEntry;
    }
    if (NvStatus status = initialize(); status != kNvOk) {
        gWin32.calls.freeLibrary(module);
        return status;
    }

    clearEntryPointCache();
    gState.query.store(query, std::memory_order_release);
    gState.module.store(module, std::memory_order_release);
    return kNvOk;
}

QueryInterfaceFn queryEntry() {
    return gState.query.load(std::memory_order_acquire);
}

Win32Calls systemCalls() {
    return kSystemCalls;
}

}  // namespace corva::nvapi_loader
