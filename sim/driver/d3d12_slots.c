/* Compiled as C: only there do the D3D12 headers declare each interface's table as a
 * struct, whose member offsets are the methods' positions. */
#include "sim/driver/d3d12_slots.h"

#include "d3d12_c_api.h"

#include <stddef.h>

#define SLOT(vtbl, method) (offsetof(vtbl, method) / sizeof(void*))

const struct D3d12Slots kD3d12Slots = {
    SLOT(IUnknownVtbl, Release),
    SLOT(ID3D12DeviceVtbl, CreateCommandQueue),
    SLOT(ID3D12DeviceVtbl, CreateCommandAllocator),
    SLOT(ID3D12DeviceVtbl, CreateCommandList),
    SLOT(ID3D12DeviceVtbl, CreateFence),
    SLOT(ID3D12DeviceVtbl, CreateDescriptorHeap),
    SLOT(ID3D12DeviceVtbl, OpenSharedHandle),
    SLOT(ID3D12DeviceVtbl, GetDeviceRemovedReason),
    SLOT(ID3D12GraphicsCommandListVtbl, Close),
};

/* Every interface begins with IUnknown's three methods, in its order. */
_Static_assert(offsetof(ID3D12DeviceVtbl, Release) == offsetof(IUnknownVtbl, Release), "IUnknown first");
_Static_assert(offsetof(ID3D12GraphicsCommandListVtbl, Release) == offsetof(IUnknownVtbl, Release),
               "IUnknown first");
