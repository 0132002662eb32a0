/* Positions of D3D12 methods in their interfaces' tables, taken from the interfaces' own C
 * declarations (d3d12_slots.c), for the code that interposes methods on real objects. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct D3d12Slots {
    size_t release; /* every interface: IUnknown's */
    size_t deviceCreateCommandQueue;
    size_t deviceCreateCommandAllocator;
    size_t deviceCreateCommandList;
    size_t deviceCreateFence;
    size_t deviceCreateDescriptorHeap;
    size_t deviceOpenSharedHandle;
    size_t deviceGetDeviceRemovedReason;
    size_t listClose;
};

extern const struct D3d12Slots kD3d12Slots;

#ifdef __cplusplus
}
#endif
