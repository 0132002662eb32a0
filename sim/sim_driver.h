// The simulated vendor driver, reached only through its query entry as the real one is.
#pragma once

#include <cstdint>

namespace corva::sim {

// nvapi_QueryInterface of the simulated driver: the entry point for an interface id,
// or nullptr for ids the driver does not know.
void* queryInterface(uint32_t interfaceId);

// Each slice of the model answers the ids it implements, nullptr for the others.
void* queryCoreEntry(uint32_t interfaceId);     // initialise, version
void* queryDrsEntry(uint32_t interfaceId);      // driver-settings store
void* queryDisplayEntry(uint32_t interfaceId);  // direct-mode display

}  // namespace corva::sim
