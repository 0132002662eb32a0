// The Windows loader's own entry points: the system-directory-only library load, and the
// system calls it makes, which a test may replace to watch and steer it.
#pragma once

#include "nvapi/loader.h"

#include <windows.h>

#include <cstddef>

namespace corva::nvapi_loader {

// Loads one library by bare name from the system directory only, after the preload of
// the system libraries the driver library needs. nullptr on failure (last error set).
HMODULE loadSystemLibrary(const wchar_t* name, DWORD flags);

// Every system call through which the loader finds, loads and frees libraries.
struct Win32Calls {
    HMODULE(WINAPI* loadLibraryEx)(LPCWSTR name, HANDLE file, DWORD flags);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* freeLibrary)(HMODULE module);
    DWORD(WINAPI* getModuleFileName)(HMODULE module, LPWSTR path, DWORD size);
    UINT(WINAPI* getSystemDirectory)(LPWSTR buffer, UINT size);
    // VerifyVersionInfoW asking whether the build number is at least 9200.
    bool (*isBuild9200OrLater)();
};

// The real system calls, which the loader makes unless a test replaced them.
Win32Calls systemCalls();

namespace detail {

constexpr size_t kPreloadCount = 6;

// The Windows loader's own state, guarded by the loader lock (loader_state.h): the system
// calls it makes and what the preload left. Only the loader and the simulated build's test
// hooks touch it.
struct Win32LoaderState {
    Win32Calls calls;
    bool preloadSucceeded = true;
    HMODULE preloadModules[kPreloadCount] = {};
    int windowsLevel = 0;  // 0 until worked out
};
Win32LoaderState& win32State();

}  // namespace detail

}  // namespace corva::nvapi_loader
