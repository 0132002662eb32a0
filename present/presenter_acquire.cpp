// Bring-up of the headset display, second half (acquireDisplay): acquisition, scan-out
// surfaces, render-target views, mode set, panel power and the present waitable.
#include "nvapi/nvapi.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/platform.h"
#include "present/bring_up_calls.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "present/rtv_format.h"

#include <atomic>

namespace corva {

namespace {

constexpr int kAcquireAttempts = 10;
constexpr int64_t kAcquireRetryNs = 1000000000;
constexpr uint32_t kAcquireStopPollMs = 20;

// Sleeps until `untilNs` on the presenter's clock, in polls, so that a stop request ends
// the wait within one.
void waitUntil(PresenterClock& clock, int64_t untilNs, const std::atomic<bool>& stopRequested) {
    for (int64_t now = clock.nowNs(); now < untilNs && !stopRequested.load(); now = clock.nowNs()) {
        const int64_t leftMs = (untilNs - now + 999999) / 1000000;
        clock.sleepMs(static_cast<uint32_t>(leftMs < kAcquireStopPollMs ? leftMs : kAcquireStopPollMs));
    }
}

// Up to ten attempts a second apart; the HDCP status counts as success. The first attempt
// is always made; a stop request ends the retries within a few tens of milliseconds. The
// attempts keep a schedule timed by the clock from the first: counted in polls, or timed
// from the end of each wait, the seconds would stretch with every sleep that overshoots (a
// 20 ms sleep lasts about 31 ms at Windows' default tick).
bool acquireWithRetry(PresenterImpl& im, const std::atomic<bool>& stopRequested) {
    const int64_t firstAttemptNs = im.clock->nowNs();
    for (int attempt = 1; attempt <= kAcquireAttempts && (attempt == 1 || !stopRequested.load()); ++attempt) {
        const NvStatus status = AcquireDirectModeDisplay(kVendorId, im.dev.Get(), &im.display);
        lines::print(lines::kAcquire, static_cast<unsigned>(status),
                     status == kNvHdcpDisabled ? lines::kHdcpDisabled : "");
        if (status == kNvOk || status == kNvHdcpDisabled) return true;
        waitUntil(*im.clock, firstAttemptNs + attempt * kAcquireRetryNs, stopRequested);
    }
    if (stopRequested.load()) lines::print(lines::kAcquireAbandoned);
    return false;
}

// Two driver surfaces for im.mode, each opened as a D3D12 resource. The shared handle that
// names a surface is neither kept nor closed: nothing says it is ours, and closing a handle
// the driver owns (or closes itself) could close an unrelated one that reused its value.
bool openSurfaces(PresenterImpl& im) {
    for (int i = 0; i < 2; ++i) {
        void* shared = nullptr;
        if (!driverCallOk(BringUpCall::CreateSurface,
                          NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], &shared)))
            return false;
        const HRESULT opened =
            im.dev->OpenSharedHandle(shared, im.res[i].iid(), im.res[i].ReleaseAndGetVoidAddressOf());
        if (!graphicsCallOk(BringUpCall::OpenSurface, opened)) return false;
    }
    return true;
}

// The surfaces' size and the typed view format for their format. The second surface is
// made for the same mode and assumed to match the first.
bool chooseViewFormat(PresenterImpl& im) {
    const D3D12_RESOURCE_DESC surfaceDesc = im.res[0]->GetDesc();
    im.width = static_cast<uint32_t>(surfaceDesc.Width);
    im.height = surfaceDesc.Height;
    const auto surfaceFormat = static_cast<uint32_t>(surfaceDesc.Format);
    lines::print(lines::kSurface, im.width, im.height, static_cast<int>(surfaceFormat));

    const uint32_t viewFormat = typedRtvFormat(surfaceFormat);
    if (viewFormat == DXGI_FORMAT_UNKNOWN) {
        lines::print(lines::kNoTypedView, static_cast<int>(surfaceFormat));
        return false;
    }
    lines::print(lines::kViewFormat, static_cast<int>(viewFormat));
    im.rtvFormat = viewFormat;
    return true;
}

// The view heap and one view per surface, in surface order.
bool createViews(PresenterImpl& im) {
    D3D12_DESCRIPTOR_HEAP_DESC hd{};
    hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
    hd.NumDescriptors = 2;
    hd.Flags = D3D12_DESCRIPTOR_HEAP_FLAG_NONE;
    hd.NodeMask = 0;
    if (!graphicsCallOk(
            BringUpCall::CreateRtvHeap,
            im.dev->CreateDescriptorHeap(&hd, im.rtvHeap.iid(), im.rtvHeap.ReleaseAndGetVoidAddressOf())))
        return false;

    const UINT increment = im.dev->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);
    im.rtv[0] = im.rtvHeap->GetCPUDescriptorHandleForHeapStart();
    im.rtv[1] = im.rtv[0];
    im.rtv[1].ptr += increment;
    D3D12_RENDER_TARGET_VIEW_DESC vd{};
    vd.Format = static_cast<DXGI_FORMAT>(im.rtvFormat);
    vd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
    vd.Texture2D.MipSlice = 0;
    vd.Texture2D.PlaneSlice = 0;
    im.dev->CreateRenderTargetView(im.res[0].Get(), &vd, im.rtv[0]);
    im.dev->CreateRenderTargetView(im.res[1].Get(), &vd, im.rtv[1]);
    return true;
}

// The HDCP status counts as success and is shown as 0.
bool setMode(PresenterImpl& im) {
    NvStatus status = SetDisplayMode(&im.display, &im.mode);
    if (status == kNvHdcpDisabled) status = kNvOk;
    lines::print(lines::kSetDisplayMode, static_cast<unsigned>(status));
    return status == kNvOk;
}

// Neither step can fail the bring-up: the status of panel power is only shown, and without
// a waitable the present loop paces without one.
void powerOnAndGetWaitable(PresenterImpl& im) {
    lines::print(lines::kPowerOn, static_cast<unsigned>(DisplayControl(&im.display, kPanelPowerOn)));

    void* waitable = nullptr;
    const NvStatus status = GetPresentWaitableObject(&im.display, &waitable);
    // A handle that came with a failure, or success without a handle, is not waited on.
    im.waitableOk = status == kNvOk && waitable != nullptr;
    im.waitable = im.waitableOk ? waitable : nullptr;
    lines::print(lines::kWaitable, static_cast<unsigned>(status));
}

}  // namespace

bool NvapiD3d12Presenter::acquireDisplay() {
    if (!acquireWithRetry(*im, stopRequested)) return false;
    im->acquired = true;
    if (!openSurfaces(*im) || !chooseViewFormat(*im) || !createViews(*im) || !setMode(*im)) return false;
    powerOnAndGetWaitable(*im);
    return true;
}

}  // namespace corva
