#include "sim/driver/display_model.h"

#include "platform/d3d12_device.h"
#include "sim/driver/device_hooks.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_driver_config.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace corva::sim::detail {

namespace {

// The simulated GPU: one, driving every display.
int gGpuToken;
NvPhysicalGpuHandle simulatedGpu() {
    return reinterpret_cast<NvPhysicalGpuHandle>(&gGpuToken);
}

bool isDisplaySuccess(NvStatus status) {
    return status == kNvOk || status == kNvHdcpDisabled;
}

int64_t periodNsOf(const NvDirectModeMode& mode) {
    return static_cast<int64_t>(std::llround(1e9 * double(mode.refreshDen) / double(mode.refreshNum)));
}

}  // namespace

DisplayModel& DisplayModel::instance() {
    // Never destroyed: the clock thread may still run while the process exits.
    static DisplayModel* model = new DisplayModel();
    return *model;
}

DisplayModel::DisplayModel() : config_(defaultHeadset()) {}

DisplayModel::~DisplayModel() {
    clock_.stop();
}

NvStatus DisplayModel::nextStatus(NvInterfaceId operation) {
    auto script = config_.statuses.find(operation);
    if (script == config_.statuses.end()) return kNvOk;
    size_t& position = scriptPositions_[operation];
    if (position < script->second.first.size()) return script->second.first[position++];
    return script->second.then;
}

bool DisplayModel::knownDisplay(const NvDirectModeDisplay* display) const {
    if (display == nullptr) return false;
    for (const NvDirectModeDisplay& d : config_.displays)
        if (d.displayId == display->displayId) return true;
    return false;
}

bool DisplayModel::holdsDisplay(const NvDirectModeDisplay* display) const {
    return acquired_ && display != nullptr && display->displayId == acquiredDisplayId_;
}

bool DisplayModel::setPanelPower(bool on, int64_t timeNs) {
    if (panelOn_ == on) return false;
    panelOn_ = on;
    transitions_.push_back({on, timeNs});
    updateClock();
    return true;
}

void DisplayModel::updateClock() {
    if (acquired_ && modeSet_ && panelOn_)
        clock_.start(periodNsOf(mode_), waitable_);
    else
        clock_.stop();
}

void DisplayModel::dropAcquisition() {
    clock_.stop();
    for (Surface& surface : surfaces_) {
        if (surface.resource != nullptr) surface.resource->Release();
        // The driver's own handle: it closes it, as the caller does not.
        if (surface.shared != nullptr) platform::closeHandle(surface.shared);
        surface = Surface{};
    }
    if (waitable_ != nullptr) {
        clock_.setWaitable(nullptr);
        platform::closeHandle(waitable_);
        waitable_ = nullptr;
    }
    if (device_ != nullptr) {
        device_->Release();
        device_ = nullptr;
    }
    acquired_ = false;
    acquiredDisplayId_ = 0;
    modeSet_ = false;
}

NvStatus DisplayModel::enableDirectMode(uint32_t vendorId, uint32_t /*flags*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::EnableDirectMode); status != kNvOk) return status;
    if (vendorId != kVendorId) return kSimInvalidArgument;
    directModeEnabled_ = true;
    return kNvOk;
}

NvStatus DisplayModel::enumerateDisplays(uint32_t vendorId, uint32_t* count, NvDirectModeDisplay* displays) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::EnumerateDirectModeDisplays); status != kNvOk)
        return status;
    if (count == nullptr) return kSimInvalidArgument;
    const auto attached = vendorId == kVendorId ? static_cast<uint32_t>(config_.displays.size()) : 0u;
    if (displays == nullptr) {
        *count = attached;
        if (config_.detachAfterCount) config_.displays.clear();
        return kNvOk;
    }
    const uint32_t filled = *count < attached ? *count : attached;
    for (uint32_t i = 0; i < filled; ++i) displays[i] = config_.displays[i];
    *count = filled;
    return kNvOk;
}

NvStatus DisplayModel::displayModes(const NvDirectModeDisplay* display, uint32_t* count,
                                    NvDirectModeMode* modes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::DirectModeGetDisplayModes); status != kNvOk)
        return status;
    if (count == nullptr || !knownDisplay(display)) return kSimInvalidArgument;
    const auto offered = static_cast<uint32_t>(config_.modes.size());
    if (modes == nullptr) {
        *count = offered;
        return kNvOk;
    }
    const uint32_t filled = *count < offered ? *count : offered;
    for (uint32_t i = 0; i < filled; ++i)
        if (modes[i].version != kModeRecordVersion) return kSimIncompatibleVersion;
    for (uint32_t i = 0; i < filled; ++i) modes[i] = config_.modes[i];
    *count = filled;
    return kNvOk;
}

NvStatus DisplayModel::gpuOfDisplay(uint32_t displayId, NvPhysicalGpuHandle* gpu) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::GetPhysicalGpuFromDisplayId); status != kNvOk)
        return status;
    NvDirectModeDisplay probe{};
    probe.displayId = displayId;
    if (gpu == nullptr || !knownDisplay(&probe)) return kSimInvalidArgument;
    *gpu = simulatedGpu();
    return kNvOk;
}

NvStatus DisplayModel::adapterOfGpu(NvPhysicalGpuHandle gpu, IUnknown** adapter) {
    bool refuseHighPriority = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (NvStatus status = nextStatus(NvInterfaceId::GetIDXGIAdapter); status != kNvOk) return status;
        if (gpu != simulatedGpu() || adapter == nullptr) return kSimInvalidArgument;
        refuseHighPriority = config_.refuseHighPriorityQueue;
    }
    if (FAILED(platform::createDefaultAdapter(adapter))) return kSimError;
    if (refuseHighPriority && !anyDeviceTableHooked()) {
        // The queue is created before the device reaches the driver (at acquisition), so
        // the device table is hooked now, through a device of our own on the same adapter.
        ID3D12Device* probe = nullptr;
        if (SUCCEEDED(platform::createD3d12Device(*adapter, D3D_FEATURE_LEVEL_11_0, &probe))) {
            hookDeviceTable(probe);
            probe->Release();
        }
    }
    return kNvOk;
}

NvStatus DisplayModel::acquire(uint32_t vendorId, IUnknown* device, const NvDirectModeDisplay* display) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++acquireCalls_;
    const NvStatus status = nextStatus(NvInterfaceId::AcquireDirectModeDisplay);
    if (!isDisplaySuccess(status)) return status;
    if (vendorId != kVendorId || device == nullptr || !knownDisplay(display)) return kSimInvalidArgument;
    ID3D12Device* d3dDevice = nullptr;
    if (FAILED(device->QueryInterface(iidOf<ID3D12Device>(), reinterpret_cast<void**>(&d3dDevice))))
        return kSimInvalidArgument;
    if (acquired_) {
        const bool same = d3dDevice == device_ && display->displayId == acquiredDisplayId_;
        d3dDevice->Release();
        return same ? status : kSimError;  // held by someone else
    }
    if (!hookDeviceTable(d3dDevice)) {
        d3dDevice->Release();
        return kSimError;
    }
    device_ = d3dDevice;
    acquired_ = true;
    acquiredDisplayId_ = display->displayId;
    return status;
}

NvStatus DisplayModel::createSurface(const NvDirectModeDisplay* display, const NvDirectModeMode* mode,
                                     uint32_t* surface, void** shared) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::DirectModeCreateSurface); status != kNvOk) return status;
    if (!holdsDisplay(display) || mode == nullptr || surface == nullptr || shared == nullptr)
        return kSimInvalidArgument;
    if (mode->width == 0 || mode->height == 0) return kSimInvalidArgument;
    Surface* slot = nullptr;
    for (Surface& s : surfaces_)
        if (s.id == 0 && slot == nullptr) slot = &s;
    if (slot == nullptr) return kSimError;

    D3D12_HEAP_PROPERTIES heap{};
    heap.Type = D3D12_HEAP_TYPE_DEFAULT;
    D3D12_RESOURCE_DESC desc{};
    desc.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
    desc.Width = mode->width;
    desc.Height = mode->height;
    desc.DepthOrArraySize = 1;
    desc.MipLevels = 1;
    desc.Format = static_cast<DXGI_FORMAT>(config_.surfaceFormat);
    desc.SampleDesc.Count = 1;
    desc.Layout = D3D12_TEXTURE_LAYOUT_UNKNOWN;
    desc.Flags = D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET;
    ID3D12Resource* resource = nullptr;
    // Scan-out surfaces start in the present state, as the presenter expects them.
    if (FAILED(device_->CreateCommittedResource(
            &heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_PRESENT, nullptr,
            iidOf<ID3D12Resource>(), reinterpret_cast<void**>(&resource))))
        return kSimError;
    // A handle of the system's, as a driver's is, kept by the driver until the display is
    // released.
    platform::OsHandle sharedHandle = platform::createEvent(true, false);
    if (sharedHandle == nullptr) {
        resource->Release();
        return kSimError;
    }
    slot->id = nextSurfaceId_++;
    slot->resource = resource;
    slot->shared = sharedHandle;
    ++surfacesCreated_;
    surfaceMode_ = *mode;
    *surface = slot->id;
    *shared = sharedHandle;
    return kNvOk;
}

NvStatus DisplayModel::setMode(const NvDirectModeDisplay* display, const NvDirectModeMode* mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    const NvStatus status = nextStatus(NvInterfaceId::SetDisplayMode);
    if (!isDisplaySuccess(status)) return status;
    if (!holdsDisplay(display) || mode == nullptr) return kSimInvalidArgument;
    if (mode->refreshNum == 0 || mode->refreshDen == 0) return kSimInvalidArgument;
    mode_ = *mode;
    modeSet_ = true;
    updateClock();  // a new mode restarts the vertical blanks at its rate
    return status;
}

NvStatus DisplayModel::displayControl(const NvDirectModeDisplay* display, uint32_t control) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::DisplayControl); status != kNvOk) return status;
    if (!holdsDisplay(display) || (control != kPanelPowerOn && control != kPanelPowerOff))
        return kSimInvalidArgument;
    const int64_t now = platform::steadyNowNs();
    const bool on = control == kPanelPowerOn;
    if (!setPanelPower(on, now)) return kNvOk;
    PanelPowerListener listener = listener_;
    lock.unlock();
    if (listener) listener(on, now);
    return kNvOk;
}

NvStatus DisplayModel::presentWaitable(const NvDirectModeDisplay* display, void** waitable) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (NvStatus status = nextStatus(NvInterfaceId::GetPresentWaitableObject); status != kNvOk) return status;
    if (!holdsDisplay(display) || waitable == nullptr) return kSimInvalidArgument;
    if (waitable_ == nullptr) {
        waitable_ = platform::createEvent(false, false);  // auto-reset: one wait per vertical blank
        clock_.setWaitable(waitable_);
    }
    *waitable = waitable_;
    return kNvOk;
}

NvStatus DisplayModel::present(const NvDirectModeDisplay* display, uint32_t surface) {
    const int64_t now = platform::steadyNowNs();
    std::lock_guard<std::mutex> lock(mutex_);
    NvStatus status = kNvOk;
    uint32_t failuresLeft = presentFailuresLeft_.load();
    while (failuresLeft > 0 && !presentFailuresLeft_.compare_exchange_weak(failuresLeft, failuresLeft - 1)) {
    }
    if (failuresLeft > 0) {
        status = presentFailureStatus_.load();
    } else {
        bool known = false;
        for (const Surface& s : surfaces_) known = known || (s.id != 0 && s.id == surface);
        if (!holdsDisplay(display) || !known) status = kSimInvalidArgument;
    }
    timeline_.recordPresent(now, surface, status);
    // Without a vertical blank the driver holds nothing back: the wait after a present returns
    // at once, whether the present went through or not.
    if (clock_.lost.load() && !clock_.dead.load() && waitable_ != nullptr) platform::setEvent(waitable_);
    return status;
}

NvStatus DisplayModel::release(uint32_t vendorId, const NvDirectModeDisplay* display) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++releaseCalls_;
    if (NvStatus status = nextStatus(NvInterfaceId::ReleaseDirectModeDisplay); status != kNvOk) return status;
    if (vendorId != kVendorId || !holdsDisplay(display)) return kSimInvalidArgument;
    dropAcquisition();
    // Given back, the headset goes dark.
    const int64_t now = platform::steadyNowNs();
    if (!setPanelPower(false, now)) return kNvOk;
    PanelPowerListener listener = listener_;
    lock.unlock();
    if (listener) listener(false, now);
    return kNvOk;
}

bool DisplayModel::openSurface(void* handle, REFIID riid, void** resource, HRESULT* result) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The newest surface of that handle (a caller that closed a handle once it was opened
    // could see the system hand the same value out again for the next surface).
    Surface* named = nullptr;
    for (Surface& s : surfaces_)
        if (handle != nullptr && handle == s.shared && s.id != 0 && (named == nullptr || s.id > named->id))
            named = &s;
    if (named == nullptr) return false;
    *result = named->resource->QueryInterface(riid, resource);
    return true;
}

bool DisplayModel::deviceRemoved(ID3D12Device* device) {
    std::lock_guard<std::mutex> lock(mutex_);
    return deviceRemoved_ && device != nullptr && device == device_;
}

bool DisplayModel::refusesQueue(const D3D12_COMMAND_QUEUE_DESC& desc) {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.refuseHighPriorityQueue && desc.Priority == D3D12_COMMAND_QUEUE_PRIORITY_HIGH;
}

}  // namespace corva::sim::detail

namespace corva::sim {

using detail::DisplayModel;

NvDirectModeDisplay makeDisplay(uint32_t displayId) {
    NvDirectModeDisplay display{};
    display.displayId = displayId;
    // The driver's own bytes: recognisable, so tests can see they travel unchanged.
    for (uint8_t i = 0; i < sizeof(display.driverData); ++i)
        display.driverData[i] = static_cast<uint8_t>(0xA0 + i);
    return display;
}

NvDirectModeMode makeMode(uint32_t width, uint32_t height, uint32_t refreshNum, uint32_t refreshDen,
                          uint32_t format) {
    NvDirectModeMode mode{};
    mode.version = kModeRecordVersion;
    mode.width = width;
    mode.height = height;
    mode.refreshNum = refreshNum;
    mode.refreshDen = refreshDen;
    mode.format = format;
    for (uint8_t i = 0; i < sizeof(mode.driverData); ++i)
        mode.driverData[i] = static_cast<uint8_t>((refreshNum + i * 17) & 0xFF);
    // As the driver lists them: compression off, its other fields left at its own values.
    mode.dscEnable = 0;
    mode.dscVersion = 0x12;
    mode.dscSlices = 2;
    mode.dscBitsPerPixelX16 = 192;
    return mode;
}

DisplayConfig defaultHeadset() {
    DisplayConfig config;
    config.displays = {makeDisplay(0x80061082)};
    config.modes = {
        makeMode(1920, 1080, 60000, 1000, 22),  makeMode(5088, 2544, 90000, 1000, 22),
        makeMode(5088, 2544, 75000, 1000, 22),  makeMode(5088, 2544, 75000, 1000, 19),
        makeMode(5088, 2544, 120000, 1000, 19), makeMode(2544, 2544, 75000, 1000, 22),
    };
    config.surfaceFormat = 90;  // DXGI_FORMAT_B8G8R8A8_TYPELESS
    return config;
}

void resetDisplay(const DisplayConfig& config) {
    DisplayModel& m = DisplayModel::instance();
    std::unique_lock<std::mutex> lock(m.mutex_);
    m.dropAcquisition();
    m.config_ = config;
    m.scriptPositions_.clear();
    m.directModeEnabled_ = false;
    m.panelOn_ = false;
    m.deviceRemoved_ = false;
    m.acquireCalls_ = m.releaseCalls_ = m.surfacesCreated_ = 0;
    m.mode_ = m.surfaceMode_ = NvDirectModeMode{};
    m.transitions_.clear();
    PanelPowerListener old = std::move(m.listener_);
    m.listener_ = nullptr;
    m.clock_.lost.store(false);
    m.clock_.dead.store(false);
    m.presentFailuresLeft_.store(0);
    m.timeline_.clear();
    lock.unlock();
    // Destroyed outside the lock: it may hold references into its owner's state.
    old = nullptr;
}

void setStatusScript(NvInterfaceId operation, const StatusScript& script) {
    DisplayModel& m = DisplayModel::instance();
    std::lock_guard<std::mutex> lock(m.mutex_);
    m.config_.statuses[operation] = script;
    m.scriptPositions_[operation] = 0;
}

void setVblankLost(bool lost) {
    DisplayModel& m = DisplayModel::instance();
    std::lock_guard<std::mutex> lock(m.mutex_);
    m.clock_.lost.store(lost);
    // Lost means always signalled: a wait already in progress returns now.
    if (lost && m.waitable_ != nullptr && !m.clock_.dead.load()) platform::setEvent(m.waitable_);
}

void setWaitableDead(bool dead) {
    DisplayModel& m = DisplayModel::instance();
    m.clock_.dead.store(dead);
}

void setDeviceRemoved(bool removed) {
    DisplayModel& m = DisplayModel::instance();
    std::lock_guard<std::mutex> lock(m.mutex_);
    m.deviceRemoved_ = removed;
}

void failPresents(uint32_t count, NvStatus status) {
    DisplayModel& m = DisplayModel::instance();
    m.presentFailureStatus_.store(status);
    m.presentFailuresLeft_.store(count);
}

DisplayState displayState() {
    DisplayModel& m = DisplayModel::instance();
    std::lock_guard<std::mutex> lock(m.mutex_);
    DisplayState s;
    s.directModeEnabled = m.directModeEnabled_;
    s.acquired = m.acquired_;
    s.modeSet = m.modeSet_;
    s.mode = m.mode_;
    s.surfaceMode = m.surfaceMode_;
    s.panelOn = m.panelOn_;
    s.vblankLost = m.clock_.lost.load();
    s.waitableDead = m.clock_.dead.load();
    s.deviceRemoved = m.deviceRemoved_;
    s.acquireCalls = m.acquireCalls_;
    s.releaseCalls = m.releaseCalls_;
    for (const DisplayModel::Surface& surface : m.surfaces_) {
        s.surfacesLive += surface.id != 0 ? 1 : 0;
        if (surface.id != 0) s.sharedHandles.push_back(surface.shared);
    }
    s.surfacesCreated = m.surfacesCreated_;
    s.waitableHandedOut = m.waitable_ != nullptr;
    s.presentCalls = m.timeline_.presentCount();
    s.vblanks = m.timeline_.vblankCount();
    return s;
}

std::vector<PanelTransition> panelTransitions() {
    DisplayModel& m = DisplayModel::instance();
    std::lock_guard<std::mutex> lock(m.mutex_);
    return m.transitions_;
}

void setPanelPowerListener(PanelPowerListener listener) {
    DisplayModel& m = DisplayModel::instance();
    std::unique_lock<std::mutex> lock(m.mutex_);
    std::swap(m.listener_, listener);
    lock.unlock();
}

Timeline timeline() {
    return DisplayModel::instance().timeline_.snapshot();
}

void clearTimeline() {
    DisplayModel::instance().timeline_.clear();
}

}  // namespace corva::sim
