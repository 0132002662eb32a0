// The Windows loader's own entry points: the system-directory-only library load, and the
// system calls it makes, which a test may replace to watch and steer it.
#pragma once

#include "nvapi/loader.h"

#include <windows.h>

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

// The real system calls.
Win32Calls systemCalls();

// Tests only: the loader makes these calls from now on and forgets everything it had
// loaded (driver library, preload and its result, Windows level), without freeing it.
void useWin32CallsForTesting(const Win32Calls& calls);

}  // namespace corva::nvapi_loader
