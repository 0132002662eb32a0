// The loader's process-wide state. Only the loader fills it; the simulated build's test
// hooks (sim/platform/test_hooks.h) are its only other users: they name the driver
// library where there is no nvapi64.dll, and forget a loaded library between tests.
#pragma once

#include "nvapi/loader.h"

#include <atomic>

namespace corva::nvapi_loader::detail {

struct LoaderState {
    // Where there is no nvapi64.dll, the function that "loads" the driver library; unused on
    // Windows. Empty: loading fails (-2).
    std::atomic<DriverLibraryOpener> opener{nullptr};
    // The loaded library's OS module (Windows only) and its query entry; the query entry is
    // published before the module, so whoever sees the module sees both.
    std::atomic<void*> module{nullptr};
    std::atomic<QueryInterfaceFn> query{nullptr};
};

LoaderState& state();

// The loader lock: loading, and forgetting a loaded library, happen under it.
void lockLoader();
void unlockLoader();

class LoaderLockGuard {
  public:
    LoaderLockGuard() { lockLoader(); }
    ~LoaderLockGuard() { unlockLoader(); }
    LoaderLockGuard(const LoaderLockGuard&) = delete;
    LoaderLockGuard& operator=(const LoaderLockGuard&) = delete;
};

}  // namespace corva::nvapi_loader::detail
