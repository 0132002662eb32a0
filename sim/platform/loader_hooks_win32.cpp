#include "nvapi/loader_state.h"
#include "nvapi/loader_win32.h"
#include "sim/platform/test_hooks.h"
#include "sim/platform/test_hooks_win32.h"

namespace corva::nvapi_loader {

// The driver library is always nvapi64.dll from the system directory.
void installDriverLibrary(DriverLibraryOpener) {}

void unloadForTesting() {
    detail::LoaderLockGuard lock;
    void* module = detail::state().module.exchange(nullptr);
    detail::state().query.store(nullptr);
    if (module != nullptr) detail::win32State().calls.freeLibrary(static_cast<HMODULE>(module));
}

void useWin32CallsForTesting(const Win32Calls& calls) {
    detail::LoaderLockGuard lock;
    detail::state().module.store(nullptr);
    detail::state().query.store(nullptr);
    detail::win32State() = detail::Win32LoaderState{calls};
}

}  // namespace corva::nvapi_loader
