// Creating a D3D12 device differs per platform: on Windows on the DXGI adapter the
// driver names; on Linux vkd3d picks its Vulkan device and the adapter is ignored.
#pragma once

#include "d3d12_api.h"

namespace corva::platform {

HRESULT createD3d12Device(IUnknown* adapter, D3D_FEATURE_LEVEL level, ID3D12Device** device);

}  // namespace corva::platform
