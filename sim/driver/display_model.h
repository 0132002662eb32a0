// The state machine of the simulated direct-mode display: one headset, one GPU, one
// acquisition at a time. Every operation takes the model's lock, none calls out while
// holding it (except into D3D12 and the clock thread, which never call back). Its state is
// open to the configuration, fault and ground-truth functions of sim_display.h, which
// share that discipline.
#pragma once

#include "nvapi/nvapi.h"
#include "platform/platform.h"
#include "sim/driver/sim_display.h"
#include "sim/driver/vblank_clock.h"

#include <atomic>
#include <mutex>

namespace corva::sim::detail {

struct DisplayModel {
    static DisplayModel& instance();

    // The driver's operations.
    NvStatus enableDirectMode(uint32_t vendorId, uint32_t flags);
    NvStatus enumerateDisplays(uint32_t vendorId, uint32_t* count, NvDirectModeDisplay* displays);
    NvStatus displayModes(const NvDirectModeDisplay* display, uint32_t* count, NvDirectModeMode* modes);
    NvStatus gpuOfDisplay(uint32_t displayId, NvPhysicalGpuHandle* gpu);
    NvStatus adapterOfGpu(NvPhysicalGpuHandle gpu, IUnknown** adapter);
    NvStatus acquire(uint32_t vendorId, IUnknown* device, const NvDirectModeDisplay* display);
    NvStatus createSurface(const NvDirectModeDisplay* display, const NvDirectModeMode* mode,
                           uint32_t* surface, void** shared);
    NvStatus setMode(const NvDirectModeDisplay* display, const NvDirectModeMode* mode);
    NvStatus displayControl(const NvDirectModeDisplay* display, uint32_t control);
    NvStatus presentWaitable(const NvDirectModeDisplay* display, void** waitable);
    // Per frame: never allocates.
    NvStatus present(const NvDirectModeDisplay* display, uint32_t surface);
    NvStatus release(uint32_t vendorId, const NvDirectModeDisplay* display);

    // For the device hooks. Opens `handle` if it is one of the driver's surfaces; false
    // when it is not.
    bool openSurface(void* handle, REFIID riid, void** resource, HRESULT* result);
    bool deviceRemoved(ID3D12Device* device);
    bool refusesQueue(const D3D12_COMMAND_QUEUE_DESC& desc);

    static constexpr uint32_t kMaxSurfaces = 4;
    struct Surface {
        uint32_t id = 0;  // 0: slot free
        ID3D12Resource* resource = nullptr;
        // Names the surface to OpenSharedHandle; handed out, so the caller closes it.
        platform::OsHandle shared = nullptr;
    };

    DisplayModel();
    ~DisplayModel();
    NvStatus nextStatus(NvInterfaceId operation);
    bool knownDisplay(const NvDirectModeDisplay* display) const;
    bool holdsDisplay(const NvDirectModeDisplay* display) const;
    // Panel power and the clock follow from acquired, mode and power; returns whether the
    // panel power changed (the caller then tells the listener, outside the lock).
    bool setPanelPower(bool on, int64_t timeNs);
    void updateClock();
    void dropAcquisition();

    std::mutex mutex_;
    DisplayConfig config_;
    std::map<NvInterfaceId, size_t> scriptPositions_;
    bool directModeEnabled_ = false;
    bool acquired_ = false;
    uint32_t acquiredDisplayId_ = 0;
    ID3D12Device* device_ = nullptr;  // referenced while acquired
    Surface surfaces_[kMaxSurfaces];
    uint32_t nextSurfaceId_ = 0x5300;
    bool modeSet_ = false;
    NvDirectModeMode mode_{};
    NvDirectModeMode surfaceMode_{};
    bool panelOn_ = false;
    platform::OsHandle waitable_ = nullptr;
    bool deviceRemoved_ = false;
    uint32_t acquireCalls_ = 0;
    uint32_t releaseCalls_ = 0;
    uint32_t surfacesCreated_ = 0;
    std::vector<PanelTransition> transitions_;
    PanelPowerListener listener_;

    std::atomic<uint32_t> presentFailuresLeft_{0};
    std::atomic<NvStatus> presentFailureStatus_{-1};

    DisplayTimeline timeline_;
    VblankClock clock_{timeline_};
};

}  // namespace corva::sim::detail
