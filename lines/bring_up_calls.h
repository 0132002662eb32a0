// The driver and graphics calls of the presenter's bring-up whose failure is reported, each
// with its call text, whether it is a driver or a graphics call, and the fixed line number
// that support scripts and users search the logs for: "Presenter: <call text> = 0x<status>
// (line <line>)" (lines::kDriverCallFailed, lines::kGraphicsCallFailed). The two kinds print
// alike; readers of the logs tell them apart here. Beside the table of printed lines, free of
// system headers: the presenter prints through it and tessaray-report reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

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

enum class CallKind { Driver, Graphics };

struct BringUpCallSite {
    BringUpCall call;
    CallKind kind;
    const char* text;
    int line;
};

// In bring-up order; the entry of each call sits at the call's own index.
inline constexpr BringUpCallSite kBringUpCallSites[] = {
    {BringUpCall::Initialize, CallKind::Driver, "NvAPI_Initialize()", 171},
    {BringUpCall::EnumerateDisplays, CallKind::Driver,
     "NvAPI_DISP_EnumerateDirectModeDisplays( kVendorId, &numDisplays, displays.data(), "
     "NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)",
     195},
    {BringUpCall::CountModes, CallKind::Driver,
     "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, nullptr, "
     "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
     202},
    {BringUpCall::ListModes, CallKind::Driver,
     "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, modes.data(), "
     "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
     206},
    {BringUpCall::GpuOfDisplay, CallKind::Driver,
     "NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)", 267},
    {BringUpCall::AdapterOfGpu, CallKind::Driver, "NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf())",
     269},
    {BringUpCall::CreateDevice, CallKind::Graphics,
     "D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev))", 271},
    {BringUpCall::CreateQueue, CallKind::Graphics, "im.dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&im.queue))",
     282},
    {BringUpCall::CreateAllocator, CallKind::Graphics,
     "im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&im.alloc))", 287},
    {BringUpCall::CreateList, CallKind::Graphics,
     "im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr, "
     "IID_PPV_ARGS(&im.list))",
     290},
    {BringUpCall::CloseList, CallKind::Graphics, "im.list->Close()", 291},
    {BringUpCall::CreateFence, CallKind::Graphics,
     "im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&im.fence))", 292},
    {BringUpCall::CreateSurface, CallKind::Driver,
     "NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], &shared[i])", 317},
    {BringUpCall::OpenSurface, CallKind::Graphics,
     "im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i]))", 318},
    {BringUpCall::CreateRtvHeap, CallKind::Graphics,
     "im.dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&im.rtvHeap))", 347},
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

// The call a failure line names, by its text or else its line number (a log of a version
// that worded a call differently); nullptr when neither is one of these calls.
constexpr const BringUpCallSite* bringUpCallNamed(std::string_view text, int line) {
    for (const BringUpCallSite& site : kBringUpCallSites)
        if (text == site.text) return &site;
    for (const BringUpCallSite& site : kBringUpCallSites)
        if (line == site.line) return &site;
    return nullptr;
}

}  // namespace corva
