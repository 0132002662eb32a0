// Parking the panels while displayWanted is false, and waking them when it returns.
#include "present/present_loop.h"

#include "nvapi/nvapi.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "present/wake_stamps.h"
#include "platform/platform.h"
#include "trace/trace.h"

#include <mutex>

namespace corva {

namespace {
constexpr uint32_t kParkedPollMs = run::kParkedPollMs;
}  // namespace

// Panels off, wait for the wake, panels on. Next: present a frame in this iteration.
PresentLoop::Step PresentLoop::parkUntilWanted() {
    const bool tracing = trace::enabled();
    const int64_t offCall = tracing ? clock_.nowNs() : 0;
    const NvStatus offStatus = DisplayControl(&im_.display, kPanelPowerOff);
    if (tracing) trace::panelPower(false, offCall, clock_.nowNs(), offStatus);
    lines::print(lines::kPanelsOff, static_cast<unsigned>(offStatus));
    publishParked(true);
    im_.conditions.vblank.pause();
    if (tracing) trace::parked(clock_.nowNs());

    if (const Step waited = waitWhileParked(); waited != Step::Next) return waited;
    // The panels stay off and parked stays true when a stop ends the run here.
    if (presenter_.stopRequested.load()) return Step::End;
    if (tracing) trace::wakeSeen(clock_.nowNs());

    wakePanels();
    // A free run the wake ends (pacing starts afresh) ends in the trace too, silently.
    if (tracing && pacing_.freeRunning()) trace::freeRun(clock_.nowNs(), false, false);
    pacing_.reset();
    publishParked(false);
    return Step::Next;
}

PresentLoop::Step PresentLoop::waitWhileParked() {
    // Each look's gap, for the wake figures' conditions; the one that saw the wake, for its own.
    PollGaps& polls = im_.conditions.parkedPolls;
    polls.look(clock_.nowNs());
    int64_t wakeGapNs = 0;
    while (!presenter_.displayWanted.load() && !presenter_.stopRequested.load()) {
        clock_.sleepMs(kParkedPollMs);
        polls.look(clock_.nowNs());
        wakeGapNs = polls.lastGapNs();
        if (runLengthReached(runTimeNow())) return Step::End;
        if (deviceRemovedReason() != S_OK) {
            lines::print(lines::kDeviceRemovedParked);
            return Step::EndDisplayLost;
        }
    }
    polls.pause();
    if (presenter_.config.wakeStamps != nullptr) presenter_.config.wakeStamps->parkedGapNs.store(wakeGapNs);
    return Step::Next;
}

// The mode is set again before power-on; surfaces, views and the waitable outlive a park.
// Each step is stamped as it returns, so a wake's time can be split into its phases.
void PresentLoop::wakePanels() {
    WakeStamps* stamps = presenter_.config.wakeStamps;
    const int64_t call = trace::enabled() || stamps != nullptr ? clock_.nowNs() : 0;
    if (stamps != nullptr) stamps->reactNs.store(call);
    const NvStatus modeStatus = SetDisplayMode(&im_.display, &im_.mode);
    if (stamps != nullptr) stamps->modeNs.store(clock_.nowNs());
    const NvStatus powerStatus = DisplayControl(&im_.display, kPanelPowerOn);
    const int64_t powered = trace::enabled() || stamps != nullptr ? clock_.nowNs() : 0;
    if (stamps != nullptr) stamps->powerNs.store(powered);
    awaitingFirstVblank_ = stamps != nullptr;
    if (trace::enabled()) trace::panelPower(true, call, powered, powerStatus, modeStatus);
    // HDCP being unavailable does not stop the mode from being set.
    const NvStatus shownMode = modeStatus == kNvHdcpDisabled ? kNvOk : modeStatus;
    lines::print(lines::kPanelsOn, static_cast<unsigned>(shownMode), static_cast<unsigned>(powerStatus));
}

// Waking also ends any free-run: pacing starts afresh.
void PresentLoop::publishParked(bool parked) {
    std::lock_guard<std::mutex> lock(im_.statsLock);
    im_.published.parked = parked;
    if (!parked) im_.published.freeRunning = false;
}

}  // namespace corva
