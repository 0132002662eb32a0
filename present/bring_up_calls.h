// The driver and graphics calls of the presenter's bring-up whose failure is reported, each
// with its call text and the fixed line number that support scripts and users search the
// logs for: "Presenter: <call text> = 0x<status> (line <line>)".
#pragma once

#include "nvapi/nvapi.h"

#include <cstddef>
#include <iterator>

namespace corva {

enum class BringUpCall {
    Initialize,
    EnumerateDisplays,
    CountModes,
    ListModes,
    GpuOfDisplay,
    AdapterOfGpu,
    CreateDevice,
    CreateQueue,
    CreateAllocator,
    CreateList,
    CloseList,
    CreateFence,
    CreateSurface,
    OpenSurface,
    CreateRtvHeap,
};

struct BringUpCallSite {
    BringUpCall call;
    const char* text;
    int line;
};

// In bring-up order; the entry of each call sits at the call's own index.
inline constexpr BringUpCallSite kBringUpCallSites[] = {
    {BringUpCall::Initialize, "NvAPI_Initialize()", 171},
    {BringUpCall::EnumerateDisplays,
     "NvAPI_DISP_EnumerateDirectModeDisplays( kVendorId, &numDisplays, displays.data(), "
     "NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)",
     195},
    {BringUpCall::CountModes,
     "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, nullptr, "
     "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
     202},
    {BringUpCall::ListModes,
     "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, modes.data(), "
     "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
     206},
    {BringUpCall::GpuOfDisplay, "NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)", 267},
    {BringUpCall::AdapterOfGpu, "NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf())", 269},
    {BringUpCall::CreateDevice,
     "D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev))", 271},
    {BringUpCall::CreateQueue, "im.dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&im.queue))", 282},
    {BringUpCall::CreateAllocator,
     "im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&im.alloc))", 287},
    {BringUpCall::CreateList,
     "im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr, "
     "IID_PPV_ARGS(&im.list))",
     290},
    {BringUpCall::CloseList, "im.list->Close()", 291},
    {BringUpCall::CreateFence, "im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&im.fence))", 292},
    {BringUpCall::CreateSurface,
     "NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], &shared[i])", 317},
    {BringUpCall::OpenSurface, "im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i]))", 318},
    {BringUpCall::CreateRtvHeap, "im.dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&im.rtvHeap))", 347},
};

constexpr const BringUpCallSite& siteOf(BringUpCall call) {
    return kBringUpCallSites[static_cast<size_t>(call)];
}

constexpr bool eachSiteAtItsIndex() {
    for (size_t i = 0; i < std::size(kBringUpCallSites); ++i)
        if (static_cast<size_t>(kBringUpCallSites[i].call) != i) return false;
    return true;
}
static_assert(eachSiteAtItsIndex());

// True when the driver status is 0; otherwise prints the call's failure line.
bool driverCallOk(BringUpCall call, NvStatus status);
// True when the graphics result is not negative; otherwise prints the call's failure line.
bool graphicsCallOk(BringUpCall call, HRESULT result);

}  // namespace corva
