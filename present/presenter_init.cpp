// Bring-up of the headset display: the driver, the display and its mode, the D3D12 device
// and its objects (init), then acquisition, scan-out surfaces, views, mode set, panel power
// and the present waitable (acquireDisplay). Every failing call is reported with its call
// text and the fixed line number support scripts and users search the logs for.
#include "nvapi/nvapi.h"
#include "platform/d3d12_device.h"
#include "platform/em_dash.h"
#include "platform/platform.h"
#include "present/driver_profile.h"
#include "present/mode_select.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "present/rtv_format.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace corva {

namespace {

constexpr int kAcquireAttempts = 10;
constexpr uint32_t kAcquireRetryMs = 1000;
constexpr uint32_t kAcquireStopPollMs = 20;

void reportStatus(const char* call, NvStatus status, int line) {
    std::fprintf(stderr, "Presenter: %s = 0x%x (line %d)\n", call, static_cast<unsigned>(status), line);
}

// HRESULT is 32-bit on both platforms; printed as such, also where long is 64-bit.
void reportResult(const char* call, HRESULT result, int line) {
    std::fprintf(stderr, "Presenter: %s = 0x%lx (line %d)\n", call,
                 static_cast<unsigned long>(static_cast<uint32_t>(result)), line);
}

bool isDisplaySuccess(NvStatus status) {
    return status == kNvOk || status == kNvHdcpDisabled;
}

}  // namespace

bool NvapiD3d12Presenter::init() {
    NvStatus status = NvAPI_Initialize();
    if (status != kNvOk) {
        reportStatus("NvAPI_Initialize()", status, 171);
        return false;
    }

    uint32_t driverVersion = 0;
    char branch[64] = {};
    if (NvAPI_SYS_GetDriverAndBranchVersion(&driverVersion, branch) == kNvOk) {
        branch[sizeof(branch) - 1] = '\0';
        std::printf("NVIDIA driver %u.%02u (%s)\n", driverVersion / 100, driverVersion % 100, branch);
    }

    pinDriverProfile();

    std::printf("EnableDirectMode(0x%x) = 0x%x\n", kVendorId,
                static_cast<unsigned>(EnableDirectMode(kVendorId, 0)));

    // Only the count of the first call matters; its status is not.
    uint32_t numDisplays = 0;
    NvAPI_DISP_EnumerateDirectModeDisplays(kVendorId, &numDisplays, nullptr,
                                           NV_ENUM_DIRECTMODE_DISPLAY_ENABLED);
    if (numDisplays == 0) {
        std::fprintf(stderr, "Presenter: no DirectMode display (Vantor not attached?)\n");
        return false;
    }
    {
        std::vector<NvDirectModeDisplay> displays(numDisplays, NvDirectModeDisplay{});
        status = NvAPI_DISP_EnumerateDirectModeDisplays(kVendorId, &numDisplays, displays.data(),
                                                        NV_ENUM_DIRECTMODE_DISPLAY_ENABLED);
        if (status != kNvOk) {
            reportStatus(
                "NvAPI_DISP_EnumerateDirectModeDisplays( kVendorId, &numDisplays, displays.data(), "
                "NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)",
                status, 195);
            return false;
        }
        im->display = displays[0];  // further displays are ignored
    }
    std::printf("using displayId 0x%x\n", im->display.displayId);

    uint32_t modeCount = 0;
    status = NvAPI_D3D_DirectModeGetDisplayModes(&im->display, &modeCount, nullptr,
                                                 NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED);
    if (status != kNvOk) {
        reportStatus(
            "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, nullptr, "
            "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
            status, 202);
        return false;
    }
    NvDirectModeMode blankMode{};
    blankMode.version = kModeRecordVersion;
    std::vector<NvDirectModeMode> modes(modeCount, blankMode);
    status = NvAPI_D3D_DirectModeGetDisplayModes(&im->display, &modeCount, modes.data(),
                                                 NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED);
    if (status != kNvOk) {
        reportStatus(
            "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, modes.data(), "
            "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
            status, 206);
        return false;
    }
    // A driver that now reports more modes than it was given room for filled only the room.
    const size_t listed = std::min<size_t>(modeCount, modes.size());

    const ModeChoice choice = selectMode(config, modes.data(), listed);
    reportModeChoice(stdout, stderr, config, modes.data(), listed, choice);
    if (!choice.found) return false;
    im->mode = modes[choice.index];
    im->refreshHz = choice.refreshHz;
    std::printf("using mode %ux%u @ %.3f Hz format=%d\n", im->mode.width, im->mode.height, im->refreshHz,
                static_cast<int>(im->mode.format));
    forceCompression(im->mode);
    std::printf("forcing DSC 1.1, 4 slices, 8 bpp\n");

    // Released on every way out from here on.
    ComPtr<IUnknown> adapter;
    NvPhysicalGpuHandle gpu = nullptr;
    status = NvAPI_SYS_GetPhysicalGpuFromDisplayId(im->display.displayId, &gpu);
    if (status != kNvOk) {
        reportStatus("NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)", status, 267);
        return false;
    }
    status = NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf());
    if (status != kNvOk) {
        reportStatus("NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf())", status, 269);
        return false;
    }
    HRESULT hr =
        platform::createD3d12Device(adapter.Get(), D3D_FEATURE_LEVEL_11_0, im->dev.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        reportResult("D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev))", hr,
                     271);
        return false;
    }

    D3D12_COMMAND_QUEUE_DESC qd{};
    qd.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    qd.Priority = D3D12_COMMAND_QUEUE_PRIORITY_HIGH;
    qd.Flags = D3D12_COMMAND_QUEUE_FLAG_NONE;
    qd.NodeMask = 0;
    hr = im->dev->CreateCommandQueue(&qd, im->queue.iid(), im->queue.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) {
        qd.Priority = D3D12_COMMAND_QUEUE_PRIORITY_NORMAL;
        hr = im->dev->CreateCommandQueue(&qd, im->queue.iid(), im->queue.ReleaseAndGetVoidAddressOf());
        if (FAILED(hr)) {
            reportResult("im.dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&im.queue))", hr, 282);
            return false;
        }
        std::fprintf(stderr, "Presenter: HIGH queue priority unavailable, using NORMAL\n");
    }

    hr = im->dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, im->alloc.iid(),
                                         im->alloc.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) {
        reportResult(
            "im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&im.alloc))", hr,
            287);
        return false;
    }
    hr = im->dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im->alloc.Get(), nullptr,
                                    im->list.iid(), im->list.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) {
        reportResult(
            "im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr, "
            "IID_PPV_ARGS(&im.list))",
            hr, 290);
        return false;
    }
    hr = im->list->Close();  // the present loop resets it every frame
    if (FAILED(hr)) {
        reportResult("im.list->Close()", hr, 291);
        return false;
    }
    hr = im->dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, im->fence.iid(),
                              im->fence.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) {
        reportResult("im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&im.fence))", hr, 292);
        return false;
    }

    if (im->fenceEvent != nullptr) platform::closeHandle(im->fenceEvent);
    im->fenceEvent = platform::createEvent(false, false);

    return acquireDisplay();
}

bool NvapiD3d12Presenter::acquireDisplay() {
    bool acquired = false;
    // The first attempt is always made; a stop request ends the retries.
    for (int attempt = 1; attempt <= kAcquireAttempts && !acquired && (attempt == 1 || !stopRequested.load());
         ++attempt) {
        const NvStatus status = AcquireDirectModeDisplay(kVendorId, im->dev.Get(), &im->display);
        std::printf("AcquireDirectModeDisplay = 0x%x%s\n", static_cast<unsigned>(status),
                    status == kNvHdcpDisabled ? " (HDCP disabled, continuing)" : "");
        acquired = isDisplaySuccess(status);
        // In short steps: a stop request ends the retries within a few tens of milliseconds.
        for (uint32_t slept = 0; !acquired && slept < kAcquireRetryMs && !stopRequested.load();
             slept += kAcquireStopPollMs)
            im->clock->sleepMs(kAcquireStopPollMs);
    }
    if (!acquired && stopRequested.load())
        std::fprintf(stderr, "Presenter: display acquisition abandoned " EM_DASH " stop requested\n");
    if (!acquired) return false;
    im->acquired = true;

    void* shared[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        const NvStatus status =
            NvAPI_D3D_DirectModeCreateSurface(&im->display, &im->mode, &im->surf[i], &shared[i]);
        if (status != kNvOk) {
            reportStatus("NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], &shared[i])",
                         status, 317);
            return false;
        }
        const HRESULT hr =
            im->dev->OpenSharedHandle(shared[i], im->res[i].iid(), im->res[i].ReleaseAndGetVoidAddressOf());
        if (FAILED(hr)) {
            reportResult("im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i]))", hr, 318);
            return false;
        }
    }

    // The second surface is made for the same mode and assumed to match the first.
    const D3D12_RESOURCE_DESC surfaceDesc = im->res[0]->GetDesc();
    im->width = static_cast<uint32_t>(surfaceDesc.Width);
    im->height = surfaceDesc.Height;
    const auto surfaceFormat = static_cast<uint32_t>(surfaceDesc.Format);
    std::printf("surface: %ux%u format=%d\n", im->width, im->height, static_cast<int>(surfaceFormat));

    const uint32_t viewFormat = typedRtvFormat(surfaceFormat);
    if (viewFormat == DXGI_FORMAT_UNKNOWN) {
        std::fprintf(
            stderr,
            "Presenter: surface format %d has no typed RTV mapping " EM_DASH " refusing (would scan out "
            "uninitialized VRAM)\n",
            static_cast<int>(surfaceFormat));
        return false;
    }
    std::printf("rtv format: %d\n", static_cast<int>(viewFormat));
    im->rtvFormat = viewFormat;

    D3D12_DESCRIPTOR_HEAP_DESC hd{};
    hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
    hd.NumDescriptors = 2;
    hd.Flags = D3D12_DESCRIPTOR_HEAP_FLAG_NONE;
    hd.NodeMask = 0;
    const HRESULT hr =
        im->dev->CreateDescriptorHeap(&hd, im->rtvHeap.iid(), im->rtvHeap.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) {
        reportResult("im.dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&im.rtvHeap))", hr, 347);
        return false;
    }

    const UINT increment = im->dev->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);
    im->rtv[0] = im->rtvHeap->GetCPUDescriptorHandleForHeapStart();
    im->rtv[1] = im->rtv[0];
    im->rtv[1].ptr += increment;
    D3D12_RENDER_TARGET_VIEW_DESC vd{};
    vd.Format = static_cast<DXGI_FORMAT>(im->rtvFormat);
    vd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
    vd.Texture2D.MipSlice = 0;
    vd.Texture2D.PlaneSlice = 0;
    im->dev->CreateRenderTargetView(im->res[0].Get(), &vd, im->rtv[0]);
    im->dev->CreateRenderTargetView(im->res[1].Get(), &vd, im->rtv[1]);

    NvStatus modeStatus = SetDisplayMode(&im->display, &im->mode);
    if (modeStatus == kNvHdcpDisabled) modeStatus = kNvOk;
    std::printf("SetDisplayMode = 0x%x\n", static_cast<unsigned>(modeStatus));
    if (modeStatus != kNvOk) return false;

    std::printf("DisplayControl(POWER_ON) = 0x%x\n",
                static_cast<unsigned>(DisplayControl(&im->display, kPanelPowerOn)));

    void* waitable = nullptr;
    const NvStatus waitableStatus = GetPresentWaitableObject(&im->display, &waitable);
    // A handle that came with a failure, or success without a handle, is not waited on.
    im->waitableOk = waitableStatus == kNvOk && waitable != nullptr;
    im->waitable = im->waitableOk ? waitable : nullptr;
    std::printf("GetPresentWaitableObject = 0x%x\n", static_cast<unsigned>(waitableStatus));
    return true;
}

}  // namespace corva
