// Creating a D3D12 device differs per platform: on Windows on the DXGI adapter the
// driver names; on Linux vkd3d picks its Vulkan device and the adapter is ignored.
#pragma once

#include "d3d12_api.h"

namespace corva::platform {

HRESULT createD3d12Device(IUnknown* adapter, D3D_FEATURE_LEVEL level, ID3D12Device** device);

// The system's first graphics adapter, as a DXGI adapter reference on Windows; on Linux,
// which has no DXGI, a placeholder object that createD3d12Device accepts and ignores.
// For the simulated driver, which must hand out an adapter for its GPU. On Windows every
// call returns a new reference to the same adapter, which stays referenced until exit.
HRESULT createDefaultAdapter(IUnknown** adapter);

}  // namespace corva::platform
