#include "nvapi/loader_state.h"
#include "sim/platform/test_hooks.h"

namespace corva::nvapi_loader {

void installDriverLibrary(DriverLibraryOpener opener) {
    detail::state().opener.store(opener);
}

void unloadForTesting() {
    detail::LoaderLockGuard lock;
    detail::state().query.store(nullptr);
}

}  // namespace corva::nvapi_loader
