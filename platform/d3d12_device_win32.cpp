#include "platform/d3d12_device.h"

#include "platform/system_library_win32.h"

namespace corva::platform {

HRESULT createD3d12Device(IUnknown* adapter, D3D_FEATURE_LEVEL level, ID3D12Device** device) {
    // Resolved on each call (once or twice a run).
    const auto create = systemFunction<PFN_D3D12_CREATE_DEVICE>(L"d3d12.dll", "D3D12CreateDevice");
    if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return create(adapter, level, __uuidof(ID3D12Device), reinterpret_cast<void**>(device));
}

}  // namespace corva::platform
