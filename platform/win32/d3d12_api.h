// D3D12 and DXGI from the Windows SDK.
#pragma once

#include <windows.h>
#include <d3d12.h>
#include <dxgi1_4.h>

namespace corva {
template <class T>
inline const IID& iidOf() {
    return __uuidof(T);
}
}  // namespace corva
