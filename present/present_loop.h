// One call of NvapiD3d12Presenter::run: the loop's counters and pacing state, on the
// stack of the calling thread. Private to the presenter.
#pragma once

#include "present/nvapi_d3d12_presenter.h"
#include "present/pacing.h"
#include "present/presenter_impl.h"
#include "trace/trace_record.h"

#include <cstdint>

namespace corva {

class PresentLoop {
  public:
    PresentLoop(NvapiD3d12Presenter& presenter, double seconds, const FrameCallback& draw);
    ~PresentLoop();
    PresentLoop(const PresentLoop&) = delete;
    PresentLoop& operator=(const PresentLoop&) = delete;

    // Presents until the run ends, then publishes the outcome and prints the result line.
    void run();

  private:
    enum class Step { Next, End, EndDisplayLost };

    // Presenting (present_loop.cpp).
    Step iterate();
    Step presentFrame(uint32_t buffer, double runTime, int64_t loopTop);
    bool previousFrameRetired();
    void waitUntil(int64_t targetNs);
    void recordFrame(uint32_t buffer, double runTime, int64_t displayTimeNs);
    void submitFrame(uint32_t buffer);
    bool present(uint32_t buffer);
    bool waitForVerticalBlank(double& waitMs);
    void waitFailed(int64_t waitStartNs);
    platform::WaitResult waitBounded(platform::OsHandle handle, uint32_t ms);
    void pace(double waitMs, double loopTime, double runTime);
    void publish();
    void finish(bool displayLost);
    HRESULT deviceRemovedReason() const { return im_.dev->GetDeviceRemovedReason(); }
    double secondsSince(int64_t startNs) const;
    double runTimeNow() const;
    bool runLengthReached(double runTime) const { return seconds_ > 0.0 && runTime >= seconds_; }

    // Panels off and back on (power_states.cpp).
    Step parkUntilWanted();
    Step waitWhileParked();
    void wakePanels();
    void publishParked(bool parked);

    NvapiD3d12Presenter& presenter_;
    PresenterImpl& im_;
    const double seconds_;
    const FrameCallback& draw_;
    PresenterClock& clock_;
    PacingState pacing_;
    int64_t runStart_ = 0;
    platform::OsHandle paceTimer_ = nullptr;

    uint64_t frames_ = 0;
    uint64_t presentErrors_ = 0;
    bool presentFailed_ = false;     // this frame's present failed
    uint64_t failedButCounted_ = 0;  // counted frames whose present failed
    uint64_t waitTimeouts_ = 0;
    uint64_t freeRunEvents_ = 0;
    bool waitFailureReported_ = false;

    // What the trace needs of the last present and vertical-blank wait.
    int32_t lastPresentStatus_ = 0;
    int64_t lastVblankWaitEndNs_ = 0;
    trace::VblankWait lastVblankWait_ = trace::VblankWait::NoWaitable;
    bool awaitingFirstVblank_ = false;  // the panels were powered on; the next vertical blank is stamped
};

}  // namespace corva
