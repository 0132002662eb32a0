// What only the simulated headset and the tests need of the platform, the driver loader and
// the HID transport. Kept out of the product: tessaray.exe links none of it, and product
// code cannot include this header. One implementation file per platform, except for the
// HID transport, which is the same everywhere.
#pragma once

#include "d3d12_api.h"
#include "nvapi/loader.h"
#include "platform/hid_transport.h"

#include <cstddef>

namespace corva::platform {

// Makes the memory holding [address, address + size) writable (and keeps it readable):
// lets the simulated driver interpose entries of a read-only interface table.
bool makeWritable(void* address, size_t size);

// The system's first graphics adapter, as a DXGI adapter reference on Windows; on Linux,
// which has no DXGI, a placeholder object that createD3d12Device accepts and ignores.
// For the simulated driver, which must hand out an adapter for its GPU. On Windows every
// call returns a new reference to the same adapter, which stays referenced until exit.
HRESULT createDefaultAdapter(IUnknown** adapter);

}  // namespace corva::platform

namespace corva::nvapi_loader {

// Where there is no nvapi64.dll, names the driver library the loader "loads" (the
// simulated driver, or a test's own). Does nothing on Windows, where the library is always
// nvapi64.dll from the system directory.
void installDriverLibrary(DriverLibraryOpener opener);

// Forgets the loaded library (and frees it on Windows) so the next call loads again.
void unloadForTesting();

}  // namespace corva::nvapi_loader

namespace corva {

// Installs the device model that stands in for the system's HID devices (the simulated
// MCU); nullptr uninstalls, and the system's own transport serves again. The transport
// must outlive every McuProx that uses it.
void installHidTransport(HidTransport* transport);

}  // namespace corva
