// The simulated vendor driver, reached only through its query entry as the real one is.
#pragma once

#include "nvapi/nvapi.h"

#include <cstdint>
#include <span>

namespace corva::sim {

// nvapi_QueryInterface of the simulated driver: the entry point for an interface id,
// or nullptr for ids the driver does not know.
void* queryInterface(uint32_t interfaceId);

// One entry point of the simulated driver. Made only by entry<Id>(function), which takes
// nothing but a function of the operation's own signature: an entry that disagrees with
// the driver interface does not compile.
struct DriverEntry {
    NvInterfaceId id;
    void* function;
};

template <NvInterfaceId Id>
DriverEntry entry(NvEntryPoint<Id> function) {
    return {Id, reinterpret_cast<void*>(function)};
}

// Each slice of the model lists the entries it implements (the core's are its own).
std::span<const DriverEntry> drsEntries();      // driver-settings store
std::span<const DriverEntry> displayEntries();  // direct-mode display

}  // namespace corva::sim
