#include "nvapi/nvapi.h"

#include "nvapi/loader.h"

#include <atomic>

namespace corva {

namespace {

// One entry-point cache slot per operation, in the order of the list.
enum class Slot : size_t {
#define TESSARAY_NVAPI_SLOT(function, operation, id, parameters, arguments) operation,
    TESSARAY_NVAPI_OPERATIONS(TESSARAY_NVAPI_SLOT)
#undef TESSARAY_NVAPI_SLOT
        Count
};

// Written whole; emptied whenever the library is loaded again.
std::atomic<void*> gEntryPoints[static_cast<size_t>(Slot::Count)];

// The entry point is called through the operation's own signature, whatever the caller's
// argument types were converted from.
template <NvInterfaceId Id, Slot S, class... Args>
NvStatus callDriver(Args... args) {
    if (NvStatus status = nvapi_loader::ensureLoaded(); status != kNvOk) return status;
    // Loading runs the driver's own initialisation, so initialising only makes sure it happened.
    if constexpr (Id == NvInterfaceId::Initialize) return kNvOk;
    std::atomic<void*>& slot = gEntryPoints[static_cast<size_t>(S)];
    void* entry = slot.load();
    if (entry == nullptr) {
        entry = nvapi_loader::queryEntry()(static_cast<uint32_t>(Id));
        if (entry == nullptr) return kNvNoEntryPoint;
        slot.store(entry);
    }
    return reinterpret_cast<NvEntryPoint<Id>>(entry)(args...);
}

}  // namespace

void nvapi_loader::clearEntryPointCache() {
    for (auto& slot : gEntryPoints) slot.store(nullptr);
}

#define TESSARAY_NVAPI_WRAPPER(function, operation, id, parameters, arguments)  \
    NvStatus function parameters {                                              \
        return callDriver<NvInterfaceId::operation, Slot::operation> arguments; \
    }
TESSARAY_NVAPI_OPERATIONS(TESSARAY_NVAPI_WRAPPER)
#undef TESSARAY_NVAPI_WRAPPER

}  // namespace corva
