#include "present/nvapi_d3d12_presenter.h"

#include "present/presenter_impl.h"

namespace corva {

namespace {

constexpr uint32_t kTeardownFenceWaitMs = 5000;

}  // namespace

PresenterImpl::~PresenterImpl() {
    // The last frame may still be executing (the loop's fence wait is bounded): the GPU
    // must be done with it before the objects it uses are released. When the system ends
    // the process after a held stop, only for the time left: the display must be released
    // before that.
    if (fence && fenceEvent != nullptr && fence->GetCompletedValue() < fenceValue) {
        fence->SetEventOnCompletion(fenceValue, fenceEvent);
        platform::waitFor(fenceEvent, platform::teardownWaitMs(kTeardownFenceWaitMs));
    }
    if (acquired) {
        ReleaseDirectModeDisplay(kVendorId, &display);
        acquired = false;
    }
    if (fenceEvent != nullptr) {
        platform::closeHandle(fenceEvent);
        fenceEvent = nullptr;
    }
    // Reverse order of creation. The direct-mode surfaces and the waitable are the driver's.
    rtvHeap.Reset();
    res[1].Reset();
    res[0].Reset();
    fence.Reset();
    list.Reset();
    alloc.Reset();
    queue.Reset();
    dev.Reset();
}

NvapiD3d12Presenter::NvapiD3d12Presenter(const PresenterConfig& cfg)
    : im(std::make_unique<PresenterImpl>()), config(cfg) {}

NvapiD3d12Presenter::~NvapiD3d12Presenter() = default;

void NvapiD3d12Presenter::requestStop() {
    stopRequested.exchange(true);
}

const PresentConditions& NvapiD3d12Presenter::conditions() const {
    return im->conditions;
}

PresentStats NvapiD3d12Presenter::stats() {
    std::lock_guard<std::mutex> lock(im->statsLock);
    return im->published;
}

void NvapiD3d12Presenter::setDisplayWanted(bool wanted) {
    displayWanted.exchange(wanted);
}

bool NvapiD3d12Presenter::isParked() {
    std::lock_guard<std::mutex> lock(im->statsLock);
    return im->published.parked;
}

}  // namespace corva
