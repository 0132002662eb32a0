// The loader goes through its usual steps (preload, system-directory load, export lookup,
// initialisation); only "nvapi64.dll" resolves to the simulated driver linked in here.
#include "nvapi/loader_win32.h"
#include "sim/platform/test_hooks_win32.h"
#include "sim/driver/sim_driver.h"
#include "tests/support/simulated_driver.h"

#include <cstring>
#include <cwchar>

namespace corva::test {

namespace {

// Never dereferenced: stands for the driver library's module.
const HMODULE kSimulatedModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x5100000));

HMODULE WINAPI loadLibraryEx(LPCWSTR name, HANDLE file, DWORD flags) {
    if (std::wcscmp(name, L"nvapi64.dll") == 0) return kSimulatedModule;
    return LoadLibraryExW(name, file, flags);
}

HMODULE WINAPI loadLibraryWithoutDriver(LPCWSTR name, HANDLE file, DWORD flags) {
    if (std::wcscmp(name, L"nvapi64.dll") != 0) return LoadLibraryExW(name, file, flags);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI getProcAddress(HMODULE module, LPCSTR name) {
    if (module != kSimulatedModule) return GetProcAddress(module, name);
    if (std::strcmp(name, "nvapi_QueryInterface") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&sim::queryInterface));
}

BOOL WINAPI freeLibrary(HMODULE module) {
    return module == kSimulatedModule ? TRUE : FreeLibrary(module);
}

}  // namespace

void installSimulatedDriver() {
    nvapi_loader::Win32Calls calls = nvapi_loader::systemCalls();
    calls.loadLibraryEx = loadLibraryEx;
    calls.getProcAddress = getProcAddress;
    calls.freeLibrary = freeLibrary;
    nvapi_loader::useWin32CallsForTesting(calls);
}

void installNoDriver() {
    nvapi_loader::Win32Calls calls = nvapi_loader::systemCalls();
    calls.loadLibraryEx = loadLibraryWithoutDriver;
    nvapi_loader::useWin32CallsForTesting(calls);
}

void removeSimulatedDriver() {
    nvapi_loader::useWin32CallsForTesting(nvapi_loader::systemCalls());
}

}  // namespace corva::test
