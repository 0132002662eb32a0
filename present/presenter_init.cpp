// Bring-up of the headset display, first half: the driver, the display and its mode, and
// the D3D12 device and its objects. acquireDisplay (presenter_acquire.cpp) finishes it.
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "nvapi/nvapi.h"
#include "platform/d3d12_device.h"
#include "platform/platform.h"
#include "present/bring_up_calls.h"
#include "present/driver_profile.h"
#include "present/mode_select.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"

#include <algorithm>
#include <vector>

namespace corva {

namespace {

void reportDriverVersion() {
    uint32_t driverVersion = 0;
    char branch[64] = {};
    if (NvAPI_SYS_GetDriverAndBranchVersion(&driverVersion, branch) != kNvOk) return;
    branch[sizeof(branch) - 1] = '\0';
    lines::print(lines::kDriverVersion, driverVersion / 100, driverVersion % 100, branch);
}

// The driver interface is up, its version reported, the profile pinned and direct mode on.
bool startDriver() {
    if (!driverCallOk(BringUpCall::Initialize, NvAPI_Initialize())) return false;
    reportDriverVersion();
    pinDriverProfile();
    lines::print(lines::kEnableDirectMode, kVendorId, static_cast<unsigned>(EnableDirectMode(kVendorId, 0)));
    return true;
}

// The first direct-mode display of the headset's vendor becomes im.display; others are ignored.
bool openDisplay(PresenterImpl& im) {
    // Only the count of the first call matters; its status is not.
    uint32_t numDisplays = 0;
    NvAPI_DISP_EnumerateDirectModeDisplays(kVendorId, &numDisplays, nullptr,
                                           NV_ENUM_DIRECTMODE_DISPLAY_ENABLED);
    if (numDisplays == 0) {
        lines::print(lines::kNoDisplay);
        return false;
    }
    std::vector<NvDirectModeDisplay> displays(numDisplays, NvDirectModeDisplay{});
    if (!driverCallOk(BringUpCall::EnumerateDisplays,
                      NvAPI_DISP_EnumerateDirectModeDisplays(kVendorId, &numDisplays, displays.data(),
                                                             NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)))
        return false;
    // The display can go between the two calls: the second count is the one that holds.
    if (numDisplays == 0) {
        lines::print(lines::kNoDisplay);
        return false;
    }
    im.display = displays[0];
    lines::print(lines::kDisplayId, im.display.displayId);
    return true;
}

// The display's supported modes, in the driver's order.
bool listModes(PresenterImpl& im, std::vector<NvDirectModeMode>& modes) {
    uint32_t modeCount = 0;
    if (!driverCallOk(BringUpCall::CountModes,
                      NvAPI_D3D_DirectModeGetDisplayModes(&im.display, &modeCount, nullptr,
                                                          NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)))
        return false;
    NvDirectModeMode blankMode{};
    blankMode.version = kModeRecordVersion;
    modes.assign(modeCount, blankMode);
    if (!driverCallOk(BringUpCall::ListModes,
                      NvAPI_D3D_DirectModeGetDisplayModes(&im.display, &modeCount, modes.data(),
                                                          NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)))
        return false;
    // A driver that now reports more modes than it was given room for filled only the room.
    modes.resize(std::min<size_t>(modeCount, modes.size()));
    return true;
}

// Selects the mode against the configuration into im.mode and forces compression on it.
bool chooseMode(PresenterImpl& im, const PresenterConfig& config) {
    std::vector<NvDirectModeMode> modes;
    if (!listModes(im, modes)) return false;
    const ModeChoice choice = selectMode(config, modes.data(), modes.size());
    reportModeChoice(config, modes.data(), modes.size(), choice);
    if (!choice.found) return false;
    im.mode = modes[choice.index];
    im.refreshHz = choice.refreshHz;
    lines::print(lines::kUsingMode, im.mode.width, im.mode.height, im.refreshHz,
                 static_cast<int>(im.mode.format));
    forceCompression(im.mode);
    lines::print(lines::kForcingDsc);
    return true;
}

// The DXGI adapter of the GPU that drives the display.
bool openAdapter(const PresenterImpl& im, ComPtr<IUnknown>& adapter) {
    NvPhysicalGpuHandle gpu = nullptr;
    return driverCallOk(BringUpCall::GpuOfDisplay,
                        NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)) &&
           driverCallOk(BringUpCall::AdapterOfGpu, NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf()));
}

// A direct queue of high priority, else of normal priority with a warning.
bool createQueue(PresenterImpl& im) {
    D3D12_COMMAND_QUEUE_DESC qd{};
    qd.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    qd.Priority = D3D12_COMMAND_QUEUE_PRIORITY_HIGH;
    qd.Flags = D3D12_COMMAND_QUEUE_FLAG_NONE;
    qd.NodeMask = 0;
    if (SUCCEEDED(im.dev->CreateCommandQueue(&qd, im.queue.iid(), im.queue.ReleaseAndGetVoidAddressOf())))
        return true;
    qd.Priority = D3D12_COMMAND_QUEUE_PRIORITY_NORMAL;
    if (!graphicsCallOk(
            BringUpCall::CreateQueue,
            im.dev->CreateCommandQueue(&qd, im.queue.iid(), im.queue.ReleaseAndGetVoidAddressOf())))
        return false;
    lines::print(lines::kNormalQueuePriority);
    return true;
}

bool createDevice(PresenterImpl& im, IUnknown* adapter) {
    return graphicsCallOk(
        BringUpCall::CreateDevice,
        platform::createD3d12Device(adapter, D3D_FEATURE_LEVEL_11_0, im.dev.ReleaseAndGetAddressOf()));
}

// The allocator, the list (closed: the present loop resets it every frame), the fence and
// the fence event.
bool createCommandObjects(PresenterImpl& im) {
    const bool created =
        graphicsCallOk(BringUpCall::CreateAllocator,
                       im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.iid(),
                                                      im.alloc.ReleaseAndGetVoidAddressOf())) &&
        graphicsCallOk(BringUpCall::CreateList,
                       im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr,
                                                 im.list.iid(), im.list.ReleaseAndGetVoidAddressOf())) &&
        graphicsCallOk(BringUpCall::CloseList, im.list->Close()) &&
        graphicsCallOk(BringUpCall::CreateFence, im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, im.fence.iid(),
                                                                     im.fence.ReleaseAndGetVoidAddressOf()));
    if (!created) return false;
    if (im.fenceEvent != nullptr) platform::closeHandle(im.fenceEvent);
    im.fenceEvent = platform::createEvent(false, false);
    // Without an event, SetEventOnCompletion would block until the GPU got there, unbounded.
    if (im.fenceEvent == nullptr) {
        lines::print(lines::kFenceEventNotCreated, platform::lastSystemError());
        return false;
    }
    return true;
}

}  // namespace

bool NvapiD3d12Presenter::init() {
    if (!startDriver() || !openDisplay(*im) || !chooseMode(*im, config)) return false;
    // Held to the end of the bring-up and released on every way out.
    ComPtr<IUnknown> adapter;
    return openAdapter(*im, adapter) && createDevice(*im, adapter.Get()) && createQueue(*im) &&
           createCommandObjects(*im) && acquireDisplay();
}

}  // namespace corva
