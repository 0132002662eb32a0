// The interface run control drives the headset display through, with the records
// exchanged across it.
#pragma once

#include "d3d12_api.h"

#include <cstdint>
#include <functional>

namespace corva {

struct WakeStamps;

struct PresenterConfig {
    uint32_t width = 5088;
    uint32_t height = 2544;
    double refreshHz = 75.0;
    uint32_t linkFormat = 22;  // direct-mode mode format code, compared for equality
    // Where the present loop stamps the steps of each park wake; null: not stamped.
    WakeStamps* wakeStamps = nullptr;
};

struct PresentStats {
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    bool freeRunning = false;  // pacing itself because vertical-blank pacing is lost
    uint64_t freeRunEvents = 0;
    bool displayLost = false;
    bool parked = false;
};

// Built by the present loop for each frame; valid only during the draw call.
struct FrameContext {
    ID3D12GraphicsCommandList* list = nullptr;  // open for recording
    const D3D12_CPU_DESCRIPTOR_HANDLE* rtv = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t format = 0;  // DXGI format of the render-target view
    double seconds = 0.0;
    uint64_t frameIndex = 0;
    int64_t displayTimeNs = 0;  // expected on the panel (steady clock); 0 when unknown
};

// Called once per rendered frame; captures of up to two references are stored in place.
using FrameCallback = std::function<void(const FrameContext&)>;

class PresentBackend {
  public:
    virtual ~PresentBackend() = default;
    virtual bool init() = 0;
    // Presents until `seconds` have passed (<= 0: no limit), a stop request, or display loss.
    virtual void run(double seconds, const FrameCallback& draw) = 0;
    virtual void requestStop() = 0;
    virtual PresentStats stats() = 0;
};

}  // namespace corva
