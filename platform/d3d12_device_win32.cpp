#include "platform/d3d12_device.h"

namespace corva::platform {

HRESULT createD3d12Device(IUnknown* adapter, D3D_FEATURE_LEVEL level, ID3D12Device** device) {
    return D3D12CreateDevice(adapter, level, __uuidof(ID3D12Device), reinterpret_cast<void**>(device));
}

}  // namespace corva::platform
