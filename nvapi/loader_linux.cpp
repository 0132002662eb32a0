// Without nvapi64.dll the driver library is the one installed by the program (the
// simulated driver) or by a test; the load, initialise-once and retry rules are the
// same as on Windows.
#include "nvapi/loader.h"

#include <atomic>
#include <mutex>

namespace corva::nvapi_loader {

namespace {

std::mutex gLoaderLock;
std::atomic<DriverLibraryOpener> gOpener{nullptr};
std::atomic<QueryInterfaceFn> gQueryEntry{nullptr};  // set once loaded and initialised

}  // namespace

void installDriverLibrary(DriverLibraryOpener opener) {
    gOpener.store(opener);
}

void unloadForTesting() {
    std::lock_guard<std::mutex> lock(gLoaderLock);
    gQueryEntry.store(nullptr);
}

QueryInterfaceFn queryEntry() {
    return gQueryEntry.load();
}

NvStatus ensureLoaded() {
    if (gQueryEntry.load() != nullptr) return kNvOk;
    std::lock_guard<std::mutex> lock(gLoaderLock);
    if (gQueryEntry.load() != nullptr) return kNvOk;

    DriverLibraryOpener opener = gOpener.load();
    const DriverLibrary library = opener != nullptr ? opener() : DriverLibrary{};
    if (!library.loaded) return kNvLibraryNotLoaded;
    QueryInterfaceFn query = library.query;
    if (query == nullptr) return kNvNoQueryEntry;

    auto initialize = reinterpret_cast<InitializeFn>(query(static_cast<uint32_t>(NvInterfaceId::Initialize)));
    if (initialize == nullptr) return kNvNoQueryEntry;
    if (NvStatus status = initialize(); status != kNvOk) return status;

    clearEntryPointCache();
    gQueryEntry.store(query);
    return kNvOk;
}

}  // namespace corva::nvapi_loader
