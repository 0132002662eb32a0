// Locating, loading and initialising the driver library, once per process.
#pragma once

#include "nvapi/nvapi.h"

namespace corva::nvapi_loader {

// The driver library's only looked-up export.
using QueryInterfaceFn = void* (*)(uint32_t interfaceId);
// The driver's initialisation entry (interface id 0x0150E828).
using InitializeFn = NvEntryPoint<NvInterfaceId::Initialize>;

// 0 when the driver library is loaded and initialised, else the failed attempt's status.
NvStatus ensureLoaded();

// The loaded library's query entry; nullptr until ensureLoaded() has returned 0.
QueryInterfaceFn queryEntry();

// Empties every slot of the operations' entry-point cache (defined with the operations).
void clearEntryPointCache();

// On platforms without nvapi64.dll the "driver library" is whatever the simulated build
// names (sim/platform/test_hooks.h): a function that "loads" it. Not used on Windows,
// where the library is nvapi64.dll from the system directory.
struct DriverLibrary {
    bool loaded = false;               // false: loading failed (-2)
    QueryInterfaceFn query = nullptr;  // nullptr: no nvapi_QueryInterface export (-1)
};
using DriverLibraryOpener = DriverLibrary (*)();

}  // namespace corva::nvapi_loader
