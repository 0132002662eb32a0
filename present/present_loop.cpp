// The paced present loop: one frame per vertical blank, started just in time, with
// free-run detection when the panel stops pacing and self-pacing until it returns.
#include "present/present_loop.h"

#include "nvapi/nvapi.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/platform.h"
#include "present/wake_stamps.h"
#include "trace/trace.h"

#include <algorithm>
#include <mutex>

namespace corva {

namespace {

constexpr uint32_t kFenceWaitMs = 1000;
constexpr uint32_t kVblankWaitMs = 1000;
constexpr uint32_t kPaceTimerWaitMs = 50;
// The fence and vertical-blank waits look for a teardown deadline this often: one may start
// (a close, log-off or shut-down) while they wait.
constexpr uint32_t kDeadlineCheckMs = 250;
// Without a high-resolution timer, sleep until this long before the target and spin the rest.
constexpr double kSpinSeconds = 0.0015;
// Failed presents a run tolerates, however far apart.
constexpr uint64_t kMaxPresentErrors = 10;

D3D12_RESOURCE_BARRIER transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES from,
                                  D3D12_RESOURCE_STATES to) {
    D3D12_RESOURCE_BARRIER barrier{};
    barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
    barrier.Flags = D3D12_RESOURCE_BARRIER_FLAG_NONE;
    barrier.Transition.pResource = resource;
    barrier.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
    barrier.Transition.StateBefore = from;
    barrier.Transition.StateAfter = to;
    return barrier;
}

}  // namespace

void NvapiD3d12Presenter::run(double seconds, const FrameCallback& draw) {
    PresentLoop loop(*this, seconds, draw);
    loop.run();
}

PresentLoop::PresentLoop(NvapiD3d12Presenter& presenter, double seconds, const FrameCallback& draw)
    : presenter_(presenter),
      im_(*presenter.im),
      seconds_(seconds),
      draw_(draw),
      clock_(*im_.clock),
      pacing_(1.0 / im_.refreshHz) {}

PresentLoop::~PresentLoop() {
    if (paceTimer_ != nullptr) platform::closeHandle(paceTimer_);
}

void PresentLoop::run() {
    // Frames must not wait for the console: lines printed from here are queued, never waited on.
    const lines::CriticalThread critical;
    // Best effort: without them the loop still runs, with the thread's previous settings.
    platform::raiseThreadPriorityToHighest();
    platform::disableExecutionSpeedThrottling();
    runStart_ = clock_.nowNs();
    paceTimer_ = clock_.createHighResolutionTimer();

    Step step = presenter_.stopRequested.load() ? Step::End : Step::Next;
    while (step == Step::Next) step = iterate();
    finish(step == Step::EndDisplayLost);
}

double PresentLoop::secondsSince(int64_t startNs) const {
    return static_cast<double>(clock_.nowNs() - startNs) / 1e9;
}

double PresentLoop::runTimeNow() const {
    return secondsSince(runStart_);
}

PresentLoop::Step PresentLoop::iterate() {
    const double runTime = runTimeNow();
    if (runLengthReached(runTime)) return Step::End;
    int64_t loopTop = clock_.nowNs();
    const uint32_t buffer = static_cast<uint32_t>(frames_ & 1);

    if (const HRESULT reason = deviceRemovedReason(); reason != S_OK) {
        lines::print(lines::kDeviceRemoved, static_cast<unsigned long>(static_cast<uint32_t>(reason)));
        return Step::EndDisplayLost;
    }
    if (!presenter_.displayWanted.load()) {
        if (const Step parked = parkUntilWanted(); parked != Step::Next) return parked;
        // The time spent parked is not loop time: it would swamp the loop-interval average.
        loopTop = clock_.nowNs();
    }
    return presentFrame(buffer, runTime, loopTop);
}

PresentLoop::Step PresentLoop::presentFrame(uint32_t buffer, double runTime, int64_t loopTop) {
    // The allocator may only be reset once the GPU is done with its commands.
    if (!previousFrameRetired()) return presenter_.stopRequested.load() ? Step::End : Step::Next;

    const int64_t before = clock_.nowNs();
    const bool anchored = pacing_.anchored(before);
    double jitWait = 0.0;
    if (anchored) {
        if (im_.justInTimeWait) waitUntil(pacing_.justInTimeTargetNs());
        jitWait = secondsSince(before);
    }

    const int64_t frameStart = clock_.nowNs();
    const int64_t displayTimeNs = anchored ? pacing_.predictDisplayTimeNs(frameStart) : 0;
    const bool tracing = trace::enabled();
    trace::FrameTimes times;
    if (tracing) {
        times.index = frames_;
        times.loopTopNs = loopTop;
        times.startNs = frameStart;
        times.predictedNs = displayTimeNs;
        if (anchored && im_.justInTimeWait)
            times.leadNs = static_cast<int64_t>(justInTimeLead(pacing_.period(), pacing_.peakWork()) * 1e9);
    }
    recordFrame(buffer, runTime, displayTimeNs);
    submitFrame(buffer);
    if (tracing) times.submitNs = clock_.nowNs();
    const bool presented = present(buffer);
    if (tracing) times.presentNs = clock_.nowNs();
    if (!presented) return Step::End;
    pacing_.addWorkTime(secondsSince(frameStart));

    double waitMs = -1.0;
    const bool waitable = waitForVerticalBlank(waitMs);
    if (tracing) {
        times.vblankNs = lastVblankWaitEndNs_;
        times.wait = lastVblankWait_;
        times.presentStatus = lastPresentStatus_;
    }
    if (!waitable) return Step::EndDisplayLost;
    pace(waitMs, secondsSince(loopTop) - jitWait, runTime);
    if (tracing) {
        times.freeRunning = pacing_.freeRunning();
        trace::frame(times);
    }

    publish();
    return presenter_.stopRequested.load() ? Step::End : Step::Next;
}

// Normally the fence was reached before the previous present. After a fence wait that
// timed out it may not have been: wait again rather than reset an allocator in use, and
// skip the frame when the GPU is still busy (the next iteration tries again).
bool PresentLoop::previousFrameRetired() {
    if (im_.fence->GetCompletedValue() >= im_.fenceValue) return true;
    im_.fence->SetEventOnCompletion(im_.fenceValue, im_.fenceEvent);
    waitBounded(im_.fenceEvent, kFenceWaitMs);
    return im_.fence->GetCompletedValue() >= im_.fenceValue;
}

// The just-in-time wait: on the high-resolution timer, or by sleeping and spinning.
void PresentLoop::waitUntil(int64_t targetNs) {
    const double remaining = static_cast<double>(targetNs - clock_.nowNs()) / 1e9;
    if (remaining <= kMinJitWaitSeconds) return;
    if (paceTimer_ != nullptr) {
        if (platform::setTimer(paceTimer_, static_cast<int64_t>(remaining * -1e7)))
            clock_.waitFor(paceTimer_, kPaceTimerWaitMs);
        return;
    }
    const double sleepSeconds = remaining - kSpinSeconds;
    if (sleepSeconds > 0.0) clock_.sleepMs(static_cast<uint32_t>(sleepSeconds * 1000.0));
    while (clock_.nowNs() < targetNs) platform::cpuPause();
}

void PresentLoop::recordFrame(uint32_t buffer, double runTime, int64_t displayTimeNs) {
    im_.alloc->Reset();
    im_.list->Reset(im_.alloc.Get(), nullptr);
    const D3D12_RESOURCE_BARRIER toTarget =
        transition(im_.res[buffer].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    im_.list->ResourceBarrier(1, &toTarget);

    FrameContext frame;
    frame.list = im_.list.Get();
    frame.rtv = &im_.rtv[buffer];
    frame.width = static_cast<int32_t>(im_.width);
    frame.height = static_cast<int32_t>(im_.height);
    frame.format = im_.rtvFormat;
    frame.seconds = runTime;
    frame.frameIndex = frames_;
    frame.displayTimeNs = displayTimeNs;
    draw_(frame);
}

// Only one frame is ever in flight: the CPU waits for it before presenting.
void PresentLoop::submitFrame(uint32_t buffer) {
    const D3D12_RESOURCE_BARRIER toPresent =
        transition(im_.res[buffer].Get(), D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT);
    im_.list->ResourceBarrier(1, &toPresent);
    im_.list->Close();
    ID3D12CommandList* const lists[1] = {im_.list.Get()};
    im_.queue->ExecuteCommandLists(1, lists);
    im_.fenceValue += 1;
    im_.queue->Signal(im_.fence.Get(), im_.fenceValue);
    if (im_.fence->GetCompletedValue() < im_.fenceValue) {
        im_.fence->SetEventOnCompletion(im_.fenceValue, im_.fenceEvent);
        waitBounded(im_.fenceEvent, kFenceWaitMs);
    }
}

// Up to `ms`, in slices, so that a teardown deadline that starts meanwhile ends the wait there:
// a departure from "at least a second", only while the system waits for the program to end.
platform::WaitResult PresentLoop::waitBounded(platform::OsHandle handle, uint32_t ms) {
    const int64_t endNs = clock_.nowNs() + int64_t(ms) * 1000000;
    for (;;) {
        const int64_t leftMs = (endNs - clock_.nowNs() + 999999) / 1000000;
        const uint32_t sliceMs =
            platform::teardownWaitMs(uint32_t(std::min<int64_t>(leftMs, kDeadlineCheckMs)));
        if (leftMs <= 0 || sliceMs == 0) return platform::WaitResult::TimedOut;
        const platform::WaitResult result = clock_.waitFor(handle, sliceMs);
        if (result != platform::WaitResult::TimedOut) return result;
    }
}

// False when failed presents have used up the run's tolerance.
bool PresentLoop::present(uint32_t buffer) {
    const NvStatus status = Present12(&im_.display, im_.surf[buffer], 1, im_.queue.Get(), im_.list.Get());
    presentFailed_ = status != kNvOk;
    lastPresentStatus_ = status;
    if (status == kNvOk) return true;
    presentErrors_ += 1;
    if (trace::enabled()) trace::presentError(clock_.nowNs(), frames_, status);
    lines::print(lines::kPresentFailed, static_cast<unsigned>(status),
                 static_cast<unsigned long long>(frames_));
    if (presentErrors_ <= kMaxPresentErrors) return true;  // counted, though not shown
    // Not a lost display (exit code 0), but the run did not go its length: say why.
    lines::print(lines::kPresentBudgetUsed, static_cast<unsigned long long>(presentErrors_));
    return false;
}

// Waits for the panel's vertical blank; false when the waitable is dead and the display
// counts as lost. waitMs stays negative without a waitable.
bool PresentLoop::waitForVerticalBlank(double& waitMs) {
    if (!im_.waitableOk) {
        pacing_.noWaitable();
        lastVblankWait_ = trace::VblankWait::NoWaitable;
        return true;
    }
    const int64_t t0 = clock_.nowNs();
    const platform::WaitResult result = waitBounded(im_.waitable, kVblankWaitMs);
    if (result == platform::WaitResult::Failed) waitFailed(t0);
    const int64_t t1 = clock_.nowNs();
    waitMs = static_cast<double>(t1 - t0) / 1e6;
    lastVblankWaitEndNs_ = t1;
    // A failed wait counts as a time-out (waitFailed).
    lastVblankWait_ = result == platform::WaitResult::Signalled ? trace::VblankWait::Signalled
                                                                : trace::VblankWait::TimedOut;
    if (result == platform::WaitResult::Signalled) {
        pacing_.waitSignalled(t1);
        if (awaitingFirstVblank_) {
            presenter_.config.wakeStamps->vblankNs.store(t1);
            awaitingFirstVblank_ = false;
        }
        return true;
    }
    // Cut short by a teardown deadline: the run is ending, and this was no time-out.
    const bool cutShort =
        waitMs < 0.9 * kVblankWaitMs && platform::teardownWaitMs(kVblankWaitMs) < kVblankWaitMs;
    if (result == platform::WaitResult::TimedOut && cutShort) return true;
    waitTimeouts_ += 1;
    // Whatever the presents did: the waitable is signalled at each vertical blank, and without
    // one the display holds nothing back and the wait returns at once. Only a waitable that
    // is dead times out five times in a row.
    if (!pacing_.waitTimedOut()) return true;
    lines::print(lines::kWaitableDead, static_cast<unsigned long long>(pacing_.consecutiveTimeouts()));
    return false;
}

// A failed wait (a waitable that a display reset invalidated) is no vertical blank: it
// counts as a time-out, so that the dead-waitable check applies. It fails at once, so the
// rest of the time-out is slept: five in a row still stand for five seconds without one.
void PresentLoop::waitFailed(int64_t waitStartNs) {
    const unsigned long error = platform::lastSystemError();
    if (!waitFailureReported_) {
        waitFailureReported_ = true;
        lines::print(lines::kWaitableWaitFailed, error);
    }
    const int64_t waitedMs = (clock_.nowNs() - waitStartNs) / 1000000;
    if (waitedMs < kVblankWaitMs)
        clock_.sleepMs(platform::teardownWaitMs(static_cast<uint32_t>(kVblankWaitMs - waitedMs)));
}

// Free-run detection, and the self-pacing sleep while the panel does not pace the loop.
void PresentLoop::pace(double waitMs, double loopTime, double runTime) {
    const FreeRunStep step = pacing_.updateFreeRun(waitMs, loopTime, runTime);
    if (step.change != FreeRunChange::None && trace::enabled())
        trace::freeRun(clock_.nowNs(), step.change == FreeRunChange::Entered, step.announce);
    if (step.change == FreeRunChange::Entered) {
        freeRunEvents_ += 1;
        if (step.announce) lines::print(lines::kFreeRunStart, im_.refreshHz);
    } else if (step.change == FreeRunChange::Left && step.announce) {
        lines::print(lines::kFreeRunOver);
    }
    if (step.selfPace) {
        if (const uint32_t ms = selfPaceSleepMs(pacing_.period(), loopTime); ms > 0) clock_.sleepMs(ms);
    }
}

void PresentLoop::publish() {
    frames_ += 1;
    if (presentFailed_) failedButCounted_ += 1;
    std::lock_guard<std::mutex> lock(im_.statsLock);
    im_.published.frames = frames_;
    im_.published.presentErrors = presentErrors_;
    im_.published.waitTimeouts = waitTimeouts_;
    im_.published.freeRunning = pacing_.freeRunning();
    im_.published.freeRunEvents = freeRunEvents_;
}

void PresentLoop::finish(bool displayLost) {
    if (paceTimer_ != nullptr) {
        platform::closeHandle(paceTimer_);
        paceTimer_ = nullptr;
    }
    {
        // The counters too: a run that ends on a failed present or a dead waitable has
        // counted that failure after its last publication.
        std::lock_guard<std::mutex> lock(im_.statsLock);
        im_.published.presentErrors = presentErrors_;
        im_.published.waitTimeouts = waitTimeouts_;
        im_.published.displayLost = displayLost;
    }
    const double elapsed = runTimeNow();
    const double average = elapsed > 0.0 ? static_cast<double>(frames_) / elapsed : 0.0;
    lines::print(lines::kPresentResult, static_cast<unsigned long long>(frames_), elapsed, average,
                 static_cast<unsigned long long>(presentErrors_),
                 static_cast<unsigned long long>(waitTimeouts_),
                 static_cast<unsigned long long>(freeRunEvents_));
    // Frames whose present failed still count in the figures above (they were rendered and
    // submitted and keep the buffers alternating), but they never reached the panel.
    if (failedButCounted_ > 0)
        lines::print(lines::kPresentNote, static_cast<unsigned long long>(failedButCounted_));
}

}  // namespace corva
