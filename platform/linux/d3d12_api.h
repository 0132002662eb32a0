// D3D12 from vkd3d: the same interfaces, implemented over Vulkan.
#pragma once

#ifndef typeof
#define typeof __typeof__  // vkd3d's __uuidof emulation is written with GNU typeof
#endif
#ifndef COM_NO_WINDOWS_H
#define COM_NO_WINDOWS_H
#endif
#include <vkd3d_windows.h>
#include <vkd3d_d3d12.h>

namespace corva {
template <class T>
inline const IID& iidOf() {
    return __vkd3d_uuidof<T>();
}
}  // namespace corva
