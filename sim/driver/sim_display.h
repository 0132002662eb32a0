// The simulated headset display behind the driver's direct-mode operations: what it
// offers (displays, modes, surface format), the statuses it answers, faults injected at
// run time, and its ground truth (acquisition, mode, panel power, vertical blanks and the
// frames they scanned out). Process-wide, like the driver it stands in for.
//
// Set it up with resetDisplay() before the presenter's init(); inject faults at any time
// from any thread; read the ground truth at any time (the readers allocate, the driver
// calls made per frame do not).
#pragma once

#include "nvapi/nvapi.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace corva::sim {

// The statuses one operation answers, call after call: `first` in order, then `then`.
// A status other than 0 (and -208 for acquisition and mode setting, which act and then
// answer it) leaves the model untouched.
struct StatusScript {
    std::vector<NvStatus> first;
    NvStatus then = kNvOk;
};

struct DisplayConfig {
    std::vector<NvDirectModeDisplay> displays;  // enumerated in this order; empty: none attached
    std::vector<NvDirectModeMode> modes;        // listed in this order for every display
    uint32_t surfaceFormat = 90;                // DXGI format of scan-out surfaces (B8G8R8A8_TYPELESS)
    // The GPU refuses command queues of high priority (E_INVALIDARG), as some do.
    bool refuseHighPriorityQueue = false;
    // The headset is detached as soon as the driver has counted it: the enumeration that
    // fills the list finds none.
    bool detachAfterCount = false;
    // The vertical blank runs this many parts per million slower than the mode's rate
    // (negative: faster), and every this-many-th one never comes (0: none missing).
    int32_t vblankOffPpm = 0;
    uint32_t vblankMissEvery = 0;
    // Per operation; operations without a script answer 0. Present12 has its own fault,
    // failPresents(), so that a present never allocates.
    std::map<NvInterfaceId, StatusScript> statuses;
};

NvDirectModeDisplay makeDisplay(uint32_t displayId);
NvDirectModeMode makeMode(uint32_t width, uint32_t height, uint32_t refreshNum, uint32_t refreshDen,
                          uint32_t format);

// One headset display (id 0x80061082) offering, in this order: 1920x1080@60 format 22,
// 5088x2544@90 format 22, 5088x2544@75 format 22, 5088x2544@75 format 19,
// 5088x2544@120 format 19, 2544x2544@75 format 22. Surfaces B8G8R8A8_TYPELESS.
DisplayConfig defaultHeadset();

// A freshly attached headset with this configuration: whatever a previous user left
// acquired is released, faults, scripts, ground truth and the panel-power listener are
// cleared. The process starts with defaultHeadset().
void resetDisplay(const DisplayConfig& config = defaultHeadset());
// Replaces one operation's script at run time (starting from its first status).
void setStatusScript(NvInterfaceId operation, const StatusScript& script);

// Faults, at any time, from any thread.
// Vertical blank lost (headset taken off): no vertical blank reaches the panel and the
// present waitable is always signalled (every present leaves it signalled). false restores.
void setVblankLost(bool lost);
// The present waitable is never signalled again (vertical blanks go on). false restores.
void setWaitableDead(bool dead);
// The D3D12 device that holds the display (or, if none, the next one to acquire it)
// reports itself removed from GetDeviceRemovedReason.
void setDeviceRemoved(bool removed);
// The next `count` Present12 calls fail with `status` and show nothing.
void failPresents(uint32_t count, NvStatus status = -1);

// Ground truth.
struct PanelTransition {
    bool on = false;
    int64_t timeNs = 0;  // steady clock
};

struct DisplayState {
    bool directModeEnabled = false;
    bool acquired = false;
    bool modeSet = false;
    NvDirectModeMode mode{};         // as last set (compression fields included)
    NvDirectModeMode surfaceMode{};  // as given to the last surface creation
    bool panelOn = false;
    bool vblankLost = false;
    bool waitableDead = false;
    bool deviceRemoved = false;
    uint32_t acquireCalls = 0;
    uint32_t releaseCalls = 0;     // ReleaseDirectModeDisplay calls, acquired or not
    uint32_t surfacesLive = 0;     // surfaces of the current acquisition
    uint32_t surfacesCreated = 0;  // since the last reset
    // The shared handles of the live surfaces, as handed out (the driver closes them when the
    // display is released).
    std::vector<void*> sharedHandles;
    bool waitableHandedOut = false;
    uint64_t presentCalls = 0;
    uint64_t vblanks = 0;  // since the last reset
};
DisplayState displayState();

std::vector<PanelTransition> panelTransitions();

// Called on the thread that changed the panel power (DisplayControl, or the release of
// the display), after the change, outside the model's lock. Cleared by resetDisplay().
using PanelPowerListener = std::function<void(bool on, int64_t timeNs)>;
void setPanelPowerListener(PanelPowerListener listener);

struct PresentRecord {
    uint64_t seq = 0;  // 1 for the first Present12 since the last reset
    int64_t timeNs = 0;
    uint32_t surface = 0;
    NvStatus status = kNvOk;
    int64_t shownAtVblank = -1;  // index of the vertical blank that first scanned it out; -1: not (yet)
};

struct VblankRecord {
    uint64_t index = 0;  // 0 for the first vertical blank since the last reset
    int64_t timeNs = 0;
    uint64_t presentSeq = 0;  // the frame scanned out: the latest successful present; 0: none yet
    uint32_t surface = 0;
    bool newFrame = false;  // false: the previous vertical blank's frame again
};

// The most recent records (up to 65536 of each), oldest first.
struct Timeline {
    std::vector<PresentRecord> presents;
    std::vector<VblankRecord> vblanks;
};
Timeline timeline();
// Forgets the recorded presents and vertical blanks; numbering starts again.
void clearTimeline();

}  // namespace corva::sim
