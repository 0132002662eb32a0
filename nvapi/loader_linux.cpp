// Without nvapi64.dll the driver library is the one the simulated build names; the load,
// initialise-once and retry rules are the same as on Windows.
#include "nvapi/loader.h"

#include "nvapi/loader_state.h"

#include <mutex>

namespace corva::nvapi_loader {

namespace {

std::mutex gLoaderLock;
detail::LoaderState gState;  // constant-initialised: no guard on the per-call fast path

}  // namespace

detail::LoaderState& detail::state() {
    return gState;
}

void detail::lockLoader() {
    gLoaderLock.lock();
}

void detail::unlockLoader() {
    gLoaderLock.unlock();
}

QueryInterfaceFn queryEntry() {
    return detail::state().query.load();
}

NvStatus ensureLoaded() {
    detail::LoaderState& loader = detail::state();
    if (loader.query.load() != nullptr) return kNvOk;
    detail::LoaderLockGuard lock;
    if (loader.query.load() != nullptr) return kNvOk;

    DriverLibraryOpener opener = loader.opener.load();
    const DriverLibrary library = opener != nullptr ? opener() : DriverLibrary{};
    if (!library.loaded) return kNvLibraryNotLoaded;
    QueryInterfaceFn query = library.query;
    if (query == nullptr) return kNvNoQueryEntry;

    auto initialize = reinterpret_cast<InitializeFn>(query(static_cast<uint32_t>(NvInterfaceId::Initialize)));
    if (initialize == nullptr) return kNvNoQueryEntry;
    if (NvStatus status = initialize(); status != kNvOk) return status;

    clearEntryPointCache();
    loader.query.store(query);
    return kNvOk;
}

}  // namespace corva::nvapi_loader
