// The present loop and the panel power states on the simulated headset display (real
// D3D12 on vkd3d): ground truth from the display model, lines from the console.
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/run_figures.h"
#include "tests/support/sample_lines.h"
#include "present/nvapi_d3d12_presenter.h"
#include "app/shared_state.h"
#include "app/status_threads.h"
#include "platform/platform.h"
#include "present/com_ptr.h"
#include "present/presenter_impl.h"
#include "prox/mcu_prox.h"
#include "sim/mcu/sim_mcu.h"
#include "sim/driver/sim_display.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/prediction_hits.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace corva {
namespace {

// A small mode keeps the CPU renderer's frames short.
constexpr uint32_t kWidth = test::kLoopWidth;
constexpr uint32_t kHeight = test::kLoopHeight;
constexpr int64_t kPeriodNs = 1000000000 / 75;

// The counts of the PRESENT RESULT line, read back through its format; all ~0 without one.
struct ResultCounts {
    unsigned long long presentErrors = ~0ull, waitTimeouts = ~0ull, freeRunEvents = ~0ull;
};
ResultCounts presentResultOf(const std::string& out) {
    ResultCounts c;
    const size_t at = out.find(lines::kPresentResult.prefix());
    if (at == std::string::npos) return c;
    const lines::Skip _;
    lines::scan(lines::kPresentResult, std::string_view(out).substr(at, out.find('\n', at) - at), _, _, _,
                c.presentErrors, c.waitTimeouts, c.freeRunEvents);
    return c;
}

struct RunOutput {
    std::string out;
    std::string err;
    PresentStats stats;
    double seconds = 0.0;  // on the presenter's clock
};

using test::countOf;
using test::eventually;

class PresentLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string initOutput;
        presenter = test::bringUpLoopPresenter(test::loopHeadset(), initOutput);
        ASSERT_NE(presenter, nullptr) << initOutput;
    }
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }

    RunOutput run(double seconds, const FrameCallback& draw) {
        RunOutput output;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        PresenterClock& clock = *presenter->im->clock;
        const int64_t start = clock.nowNs();
        presenter->run(seconds, draw);
        output.seconds = double(clock.nowNs() - start) / 1e9;
        output.err = testing::internal::GetCapturedStderr();
        output.out = testing::internal::GetCapturedStdout();
        output.stats = presenter->stats();
        return output;
    }

    // Successful presents, in order, by surface.
    std::vector<uint32_t> presentedSurfaces() {
        std::vector<uint32_t> surfaces;
        for (const sim::PresentRecord& present : sim::timeline().presents)
            if (present.status == kNvOk) surfaces.push_back(present.surface);
        return surfaces;
    }

    // Second-long waits of the run take no real time.
    void useVirtualTime() { presenter->im->clock = &virtualClock; }

    test::SimDriverSandbox sandbox;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
    test::VirtualClock virtualClock;
};

TEST_F(PresentLoopTest, AStopBeforeTheRunPresentsNothingAndStillReports) {
    presenter->requestStop();
    int draws = 0;
    const RunOutput output = run(0.0, [&](const FrameContext&) { ++draws; });
    EXPECT_EQ(draws, 0);
    EXPECT_EQ(sim::displayState().presentCalls, 0u);
    EXPECT_NE(output.out.find(test::printed(lines::kPresentResult, 0ull, 0.0, 0.0, 0ull, 0ull, 0ull)),
              std::string::npos)
        << output.out;
    EXPECT_EQ(output.stats.frames, 0u);
    EXPECT_FALSE(output.stats.displayLost);
}

// Without a run length the loop goes on until asked to stop; a stop from inside draw
// ends it once that frame has been presented and counted.
TEST_F(PresentLoopTest, AStopFromDrawEndsAfterThatFrameWithBuffersAlternating) {
    std::vector<const D3D12_CPU_DESCRIPTOR_HANDLE*> targets;
    std::vector<int64_t> displayTimes;
    targets.reserve(64);
    displayTimes.reserve(64);
    const RunOutput output = run(-1.0, [&](const FrameContext& frame) {
        EXPECT_EQ(frame.frameIndex, targets.size());
        EXPECT_EQ(frame.width, int32_t(kWidth));
        EXPECT_EQ(frame.height, int32_t(kHeight));
        targets.push_back(frame.rtv);
        displayTimes.push_back(frame.displayTimeNs);
        if (frame.frameIndex == 39) presenter->requestStop();
    });
    EXPECT_EQ(output.stats.frames, 40u);
    ASSERT_EQ(targets.size(), 40u);
    for (size_t i = 0; i < targets.size(); ++i) EXPECT_EQ(targets[i], &presenter->im->rtv[i & 1]) << i;

    const std::vector<uint32_t> surfaces = presentedSurfaces();
    ASSERT_EQ(surfaces.size(), 40u);
    for (size_t i = 0; i < surfaces.size(); ++i) EXPECT_EQ(surfaces[i], presenter->im->surf[i & 1]) << i;

    // The first frame has no vertical blank to go by; later ones are anchored by it.
    EXPECT_EQ(displayTimes[0], 0);
    for (size_t i = 1; i < displayTimes.size(); ++i) EXPECT_GT(displayTimes[i], 0) << i;
    EXPECT_NE(output.out.find(std::string(lines::kPresentResult.prefix()) + "40 frames in "),
              std::string::npos)
        << output.out;
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_EQ(output.err, "");
}

// Predictions come true on the panel: the frame is scanned out by the vertical blank
// before its predicted time (which aims at the middle of that scan-out).
TEST_F(PresentLoopTest, AnchoredFramesMostlyReachThePanelWhenPredicted) {
    std::vector<int64_t> displayTimes;
    displayTimes.reserve(256);
    run(1.5, [&](const FrameContext& frame) { displayTimes.push_back(frame.displayTimeNs); });
    const sim::Timeline timeline = sim::timeline();
    ASSERT_EQ(timeline.presents.size(), displayTimes.size());
    const test::PredictionHits p = test::predictionHits(timeline, displayTimes, kPeriodNs);
    EXPECT_GT(p.anchored, 75);
    EXPECT_GE(p.hits, p.anchored / 2) << p.hits << " of " << p.anchored;
}

TEST_F(PresentLoopTest, NothingIsAllocatedPerFrame) {
    uint64_t atFrame20 = 0, atFrame80 = 0;
    run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 20) atFrame20 = test::allocationsOnThisThread();
        if (frame.frameIndex == 80) {
            atFrame80 = test::allocationsOnThisThread();
            presenter->requestStop();
        }
    });
    EXPECT_GT(atFrame80, 0u);
    EXPECT_EQ(atFrame80, atFrame20);
}

TEST_F(PresentLoopTest, TenFailedPresentsAreToleratedHoweverFarApart) {
    sim::failPresents(6);
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 30) sim::failPresents(4);
        if (frame.frameIndex == 50) presenter->requestStop();
    });
    EXPECT_EQ(output.stats.frames, 51u);  // failed presents are counted frames
    EXPECT_EQ(output.stats.presentErrors, 10u);
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_EQ(countOf(output.err, std::string(lines::kPresentFailed.prefix()) + "ffffffff at frame "), 10u)
        << output.err;
    EXPECT_NE(output.err.find(std::string(lines::kPresentFailed.prefix()) + "ffffffff at frame 0\n"),
              std::string::npos);
    EXPECT_NE(output.err.find(std::string(lines::kPresentFailed.prefix()) + "ffffffff at frame 33\n"),
              std::string::npos);
    EXPECT_NE(output.out.find(test::printed(lines::kPresentNote, 10ull)), std::string::npos) << output.out;
}

TEST_F(PresentLoopTest, TheEleventhFailedPresentEndsTheRunWithoutLosingTheDisplay) {
    sim::failPresents(5, -5);
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 20) sim::failPresents(6, -5);
    });
    EXPECT_EQ(output.stats.frames, 25u);  // the 11th failure, frame 25, is not counted
    EXPECT_EQ(output.stats.presentErrors, 11u);
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_NE(output.err.find(test::printed(lines::kPresentFailed, 0xfffffffbu, 25ull)), std::string::npos)
        << output.err;
    EXPECT_NE(output.out.find(std::string(lines::kPresentResult.prefix()) + "25 frames in "),
              std::string::npos)
        << output.out;
    EXPECT_EQ(presentResultOf(output.out).presentErrors, 11u) << output.out;
    EXPECT_EQ(presentResultOf(output.out).waitTimeouts, 0u);
    EXPECT_EQ(presentResultOf(output.out).freeRunEvents, 0u);
    EXPECT_NE(output.out.find(std::string(lines::kPresentNote.prefix()) + "10 of these frames failed"),
              std::string::npos)
        << output.out;
    EXPECT_NE(output.err.find(test::printed(lines::kPresentBudgetUsed, 11ull)), std::string::npos)
        << output.err;
}

// Five one-second time-outs in a row, in virtual time.
TEST_F(PresentLoopTest, AWaitableDeadForFiveSecondsLosesTheDisplay) {
    useVirtualTime();
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 10) sim::setWaitableDead(true);
    });
    EXPECT_TRUE(output.stats.displayLost);
    EXPECT_EQ(output.stats.waitTimeouts, 5u);
    EXPECT_EQ(output.stats.frames, 14u);  // time-outs at frames 10 to 14; the last is not counted
    EXPECT_NE(output.err.find(test::printed(lines::kWaitableDead, 5ull)), std::string::npos) << output.err;
    EXPECT_EQ(presentResultOf(output.out).waitTimeouts, 5u) << output.out;
    EXPECT_EQ(presentResultOf(output.out).freeRunEvents, 0u);
    EXPECT_GT(output.seconds, 4.5);
}

// A wait on the waitable that fails (here on a null handle, as on one a display reset
// closed) is a time-out, not a vertical blank: said once, five in a row lose the display.
TEST_F(PresentLoopTest, AFailingWaitableWaitIsATimeOutAndFiveLoseTheDisplay) {
    useVirtualTime();
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 10) presenter->im->waitable = nullptr;
        if (frame.frameIndex == 100) presenter->requestStop();  // counted as vertical blanks
    });
    EXPECT_TRUE(output.stats.displayLost);
    EXPECT_EQ(output.stats.waitTimeouts, 5u);
    EXPECT_EQ(output.stats.frames, 14u);
    EXPECT_EQ(countOf(output.err, std::string(lines::kWaitableWaitFailed.prefix())), 1u) << output.err;
    EXPECT_NE(output.err.find(test::printed(lines::kWaitableDead, 5ull)), std::string::npos) << output.err;
    EXPECT_GT(output.seconds, 4.5);  // each failed wait stands for its whole second
}

// Failed presents alone never make the waits time out (the waitable is signalled at each vertical
// blank; without one, waits return at once). A dead waitable loses the display, failed presents or not.
TEST_F(PresentLoopTest, FailedPresentsLoseTheDisplayOnlyWithADeadWaitable) {
    const struct {
        bool vblankLost, waitableDead;
        uint32_t failures;
        bool displayLost;
        uint64_t presentErrors, waitTimeouts, frames;
    } cases[] = {
        {false, false, 6, false, 6, 0, 41},  {true, false, 6, false, 6, 0, 41},
        {true, false, 12, false, 11, 0, 20}, {false, true, 10000, true, 5, 5, 14},
        {true, true, 10000, true, 5, 5, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        if (&c != &cases[0]) {  // a fresh headset and presenter for each case
            TearDown();
            SetUp();
        }
        useVirtualTime();
        const RunOutput output = run(0.0, [&](const FrameContext& frame) {
            if (frame.frameIndex == 10) {
                sim::setWaitableDead(c.waitableDead);  // first: losing the blank signals a live waitable
                sim::setVblankLost(c.vblankLost);
                sim::failPresents(c.failures);
            }
            if (frame.frameIndex == 40) presenter->requestStop();
        });
        EXPECT_EQ(output.stats.displayLost, c.displayLost) << output.err;
        EXPECT_EQ(output.stats.presentErrors, c.presentErrors);
        EXPECT_EQ(output.stats.waitTimeouts, c.waitTimeouts);
        EXPECT_EQ(output.stats.frames, c.frames);
        EXPECT_EQ(countOf(output.err, std::string(lines::kWaitableDead.prefix())), c.displayLost ? 1u : 0u)
            << output.err;
    }
}

TEST_F(PresentLoopTest, ALostVerticalBlankSelfPacesAtTheModeRateUntilItReturns) {
    std::atomic<bool> done{false};
    std::thread headset([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim::setVblankLost(true);
        EXPECT_TRUE(eventually([&] { return presenter->stats().freeRunning; }));
        // Self-paced: about one frame per period, not as fast as the loop could go.
        const uint64_t before = presenter->stats().frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const uint64_t during = presenter->stats().frames - before;
        EXPECT_GT(during, 10u);
        EXPECT_LT(during, 60u);
        sim::setVblankLost(false);
        EXPECT_TRUE(eventually([&] { return !presenter->stats().freeRunning; }));
        // Lost again soon after: counted, but silent.
        sim::setVblankLost(true);
        EXPECT_TRUE(eventually([&] { return presenter->stats().freeRunEvents >= 2; }));
        sim::setVblankLost(false);
        EXPECT_TRUE(eventually([&] { return !presenter->stats().freeRunning; }));
        presenter->requestStop();
        done = true;
    });
    const RunOutput output = run(30.0, [](const FrameContext&) {});
    headset.join();
    EXPECT_TRUE(done);
    // A heavily loaded machine can add short episodes of its own (silent, as they are
    // within 10 s of the last); the lines come once.
    EXPECT_GE(output.stats.freeRunEvents, 2u);
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_EQ(output.err, test::printed(lines::kFreeRunStart, 75.0) + test::printed(lines::kFreeRunOver));
}

TEST_F(PresentLoopTest, AParkTurnsThePanelsOffAndAWakeBringsThemBackWithTheNextBuffer) {
    std::vector<uint64_t> indices;
    std::vector<int64_t> displayTimes;
    indices.reserve(256);
    displayTimes.reserve(256);
    std::atomic<bool> parkedSeen{false};
    std::thread benchmark([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(presenter->isParked());
        presenter->displayWanted.exchange(false);
        EXPECT_TRUE(eventually([&] { return presenter->isParked(); }));
        parkedSeen = !sim::displayState().panelOn;
        const uint64_t framesParked = presenter->stats().frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(presenter->stats().frames, framesParked);  // nothing presented while parked
        sim::setStatusScript(NvInterfaceId::SetDisplayMode, {{kNvHdcpDisabled}, kNvOk});
        presenter->displayWanted.exchange(true);
        EXPECT_TRUE(eventually([&] { return !presenter->isParked(); }));
        EXPECT_TRUE(sim::displayState().panelOn);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // A second park, with a failing mode set on the wake.
        presenter->displayWanted.exchange(false);
        EXPECT_TRUE(eventually([&] { return presenter->isParked(); }));
        sim::setStatusScript(NvInterfaceId::SetDisplayMode, {{-5}, kNvOk});
        presenter->displayWanted.exchange(true);
        EXPECT_TRUE(eventually([&] { return !presenter->isParked(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        presenter->requestStop();
    });
    const RunOutput output = run(30.0, [&](const FrameContext& frame) {
        indices.push_back(frame.frameIndex);
        displayTimes.push_back(frame.displayTimeNs);
    });
    benchmark.join();
    EXPECT_TRUE(parkedSeen);
    EXPECT_FALSE(output.stats.parked);
    EXPECT_EQ(output.out.find(test::printed(lines::kPanelsOff, 0u) + test::printed(lines::kPanelsOn, 0u, 0u) +
                              test::printed(lines::kPanelsOff, 0u) +
                              test::printed(lines::kPanelsOn, 0xfffffffbu, 0u)),
              0u)
        << output.out;

    // Buffers go on alternating across the parks, by frame count.
    const std::vector<uint32_t> surfaces = presentedSurfaces();
    ASSERT_EQ(surfaces.size(), output.stats.frames);
    for (size_t i = 0; i < surfaces.size(); ++i) ASSERT_EQ(surfaces[i], presenter->im->surf[i & 1]) << i;
    for (size_t i = 0; i < indices.size(); ++i) ASSERT_EQ(indices[i], i);

    // Panel ground truth: on (init), off, on, off, on. After each wake the pacing starts
    // afresh: the first frame has no display time.
    const std::vector<sim::PanelTransition> transitions = sim::panelTransitions();
    ASSERT_GE(transitions.size(), 4u);
    const sim::PanelTransition* last = &transitions[transitions.size() - 4];
    EXPECT_FALSE(last[0].on);
    EXPECT_TRUE(last[1].on);
    EXPECT_FALSE(last[2].on);
    EXPECT_TRUE(last[3].on);
    int unanchoredAfterStart = 0;
    for (size_t i = 1; i < displayTimes.size(); ++i) unanchoredAfterStart += displayTimes[i] == 0 ? 1 : 0;
    EXPECT_EQ(unanchoredAfterStart, 2);
}

TEST_F(PresentLoopTest, AStopWhileParkedLeavesThePanelsOff) {
    presenter->displayWanted.exchange(false);
    std::thread benchmark([&] {
        EXPECT_TRUE(eventually([&] { return presenter->isParked(); }));
        presenter->requestStop();
    });
    const RunOutput output = run(0.0, [](const FrameContext&) {});
    benchmark.join();
    EXPECT_EQ(output.stats.frames, 0u);
    EXPECT_TRUE(output.stats.parked);
    EXPECT_TRUE(presenter->isParked());
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_FALSE(sim::displayState().panelOn);
    EXPECT_EQ(output.out.find("Presenter: panels ON"), std::string::npos);
    EXPECT_NE(output.out.find(std::string(lines::kPresentResult.prefix()) + "0 frames in "),
              std::string::npos)
        << output.out;
}

TEST_F(PresentLoopTest, ARunLengthPassingWhileParkedEndsTheRunWithinAPoll) {
    presenter->displayWanted.exchange(false);
    const RunOutput output = run(0.5, [](const FrameContext&) {});
    EXPECT_GE(output.seconds, 0.5);
    // One parked poll, with room (eight polls) for a busy machine.
    EXPECT_LT(output.seconds, 0.5 + 8 * run::kParkedPollMs / 1000.0);
    EXPECT_TRUE(output.stats.parked);
    EXPECT_FALSE(output.stats.displayLost);
    EXPECT_FALSE(sim::displayState().panelOn);
}

TEST_F(PresentLoopTest, ADeviceRemovedWhileParkedLosesTheDisplay) {
    presenter->displayWanted.exchange(false);
    std::thread benchmark([&] {
        EXPECT_TRUE(eventually([&] { return presenter->isParked(); }));
        sim::setDeviceRemoved(true);
    });
    const RunOutput output = run(0.0, [](const FrameContext&) {});
    benchmark.join();
    EXPECT_TRUE(output.stats.displayLost);
    EXPECT_TRUE(output.stats.parked);
    EXPECT_EQ(output.err, test::printed(lines::kDeviceRemovedParked));
}

TEST_F(PresentLoopTest, ADeviceRemovedWhilePresentingLosesTheDisplay) {
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex == 5) sim::setDeviceRemoved(true);
    });
    EXPECT_TRUE(output.stats.displayLost);
    EXPECT_EQ(output.stats.frames, 6u);
    EXPECT_EQ(output.err, std::string(lines::kDeviceRemoved.prefix()) +
                              "887a0005) \xE2\x80\x94 display lost (cable pulled?), exiting "
                              "present loop\n");
    EXPECT_NE(output.out.find(std::string(lines::kPresentResult.prefix()) + "6 frames in "),
              std::string::npos);
}

// The presenter's queue with its completion signals held back on request, as if the GPU
// were still working on the frame: the fence is not reached until the test lets it.
class StallingQueue final : public ID3D12CommandQueue {
  public:
    explicit StallingQueue(ID3D12CommandQueue* real) : real_(real) {}

    void holdNextSignal() { hold_ = true; }
    // Reaches the held fence value, from the CPU.
    void release() {
        if (ID3D12Fence* fence = heldFence_.load()) fence->Signal(heldValue_.load());
    }

    HRESULT STDMETHODCALLTYPE Signal(ID3D12Fence* fence, UINT64 value) override {
        if (!hold_.exchange(false)) return real_->Signal(fence, value);
        heldValue_ = value;
        heldFence_ = fence;
        return S_OK;
    }
    void STDMETHODCALLTYPE ExecuteCommandLists(UINT count, ID3D12CommandList* const* lists) override {
        real_->ExecuteCommandLists(count, lists);
    }

    // Owned by the test: references are not counted.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return real_->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT* size, void* data) override {
        return real_->GetPrivateData(guid, size, data);
    }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT size, const void* data) override {
        return real_->SetPrivateData(guid, size, data);
    }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown* data) override {
        return real_->SetPrivateDataInterface(guid, data);
    }
    HRESULT STDMETHODCALLTYPE SetName(const WCHAR* name) override { return real_->SetName(name); }
    HRESULT STDMETHODCALLTYPE GetDevice(REFIID riid, void** device) override {
        return real_->GetDevice(riid, device);
    }
    void STDMETHODCALLTYPE UpdateTileMappings(ID3D12Resource* resource, UINT regions,
                                              const D3D12_TILED_RESOURCE_COORDINATE* starts,
                                              const D3D12_TILE_REGION_SIZE* sizes, UINT ranges,
                                              const D3D12_TILE_RANGE_FLAGS* flags, UINT* offsets,
                                              UINT* counts, D3D12_TILE_MAPPING_FLAGS mappingFlags) override {
        real_->UpdateTileMappings(resource, regions, starts, sizes, ranges, flags, offsets, counts,
                                  mappingFlags);
    }
    void STDMETHODCALLTYPE CopyTileMappings(ID3D12Resource* dst,
                                            const D3D12_TILED_RESOURCE_COORDINATE* dstStart,
                                            ID3D12Resource* src,
                                            const D3D12_TILED_RESOURCE_COORDINATE* srcStart,
                                            const D3D12_TILE_REGION_SIZE* size,
                                            D3D12_TILE_MAPPING_FLAGS flags) override {
        real_->CopyTileMappings(dst, dstStart, src, srcStart, size, flags);
    }
    void STDMETHODCALLTYPE SetMarker(UINT metadata, const void* data, UINT size) override {
        real_->SetMarker(metadata, data, size);
    }
    void STDMETHODCALLTYPE BeginEvent(UINT metadata, const void* data, UINT size) override {
        real_->BeginEvent(metadata, data, size);
    }
    void STDMETHODCALLTYPE EndEvent() override { real_->EndEvent(); }
    HRESULT STDMETHODCALLTYPE Wait(ID3D12Fence* fence, UINT64 value) override {
        return real_->Wait(fence, value);
    }
    HRESULT STDMETHODCALLTYPE GetTimestampFrequency(UINT64* frequency) override {
        return real_->GetTimestampFrequency(frequency);
    }
    HRESULT STDMETHODCALLTYPE GetClockCalibration(UINT64* gpu, UINT64* cpu) override {
        return real_->GetClockCalibration(gpu, cpu);
    }
#ifdef WIDL_EXPLICIT_AGGREGATE_RETURNS
    D3D12_COMMAND_QUEUE_DESC* STDMETHODCALLTYPE GetDesc(D3D12_COMMAND_QUEUE_DESC* desc) override {
        return real_->GetDesc(desc);
    }
#else
    D3D12_COMMAND_QUEUE_DESC STDMETHODCALLTYPE GetDesc() override {
        return real_->GetDesc();
    }
#endif

  private:
    ID3D12CommandQueue* real_;
    std::atomic<bool> hold_{false};
    std::atomic<ID3D12Fence*> heldFence_{nullptr};
    std::atomic<uint64_t> heldValue_{0};
};

// A frame still on the GPU after the one-second fence wait is presented anyway, but the
// next frame must not reset the allocator under it: recording waits until it retired.
TEST_F(PresentLoopTest, AFrameStuckOnTheGpuIsRetiredBeforeTheAllocatorIsReused) {
    useVirtualTime();
    PresenterImpl& im = *presenter->im;
    ComPtr<ID3D12CommandQueue> realQueue = std::move(im.queue);
    StallingQueue stalling(realQueue.Get());
    *im.queue.GetAddressOf() = &stalling;

    std::thread gpu;
    std::vector<bool> retiredAtRecording;
    std::vector<int64_t> recordedAt;
    retiredAtRecording.reserve(64);
    recordedAt.reserve(64);
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        retiredAtRecording.push_back(im.fence->GetCompletedValue() >= im.fenceValue);
        recordedAt.push_back(virtualClock.nowNs());
        if (frame.frameIndex == 3) {
            // This frame completes 2.5 s from now, well after the fence wait gave up.
            stalling.holdNextSignal();
            gpu = std::thread([&] {
                const int64_t due = virtualClock.nowNs() + 2500000000;
                while (virtualClock.nowNs() < due) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                stalling.release();
            });
        }
        if (frame.frameIndex == 8) presenter->requestStop();
    });
    if (gpu.joinable()) gpu.join();
    *im.queue.GetAddressOf() = nullptr;
    im.queue = std::move(realQueue);

    ASSERT_EQ(retiredAtRecording.size(), 9u);
    for (size_t i = 0; i < retiredAtRecording.size(); ++i) EXPECT_TRUE(retiredAtRecording[i]) << i;
    EXPECT_GT(recordedAt[4] - recordedAt[3], int64_t(2400000000));
    EXPECT_EQ(output.stats.frames, 9u);
    EXPECT_FALSE(output.stats.displayLost);
}

// While the GPU is stuck no frame is drawn, so the frame callback cannot pass Ctrl+C on: the
// console handler reaches the presenter itself, and the run ends within about a second.
TEST_F(PresentLoopTest, CtrlCWhileTheGpuIsStuckEndsTheRunWithoutAFrame) {
    PresenterImpl& im = *presenter->im;
    ComPtr<ID3D12CommandQueue> realQueue = std::move(im.queue);
    StallingQueue stalling(realQueue.Get());
    *im.queue.GetAddressOf() = &stalling;
    PresenterStop.attach(&presenter->stopRequested);

    std::thread console;
    std::atomic<int64_t> stopAt{0};
    const RunOutput output = run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex != 3) return;
        stalling.holdNextSignal();  // and never released while the loop runs
        console = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stopAt = platform::steadyNowNs();
            consoleCtrlHandler(0);
        });
    });
    const int64_t endedAt = platform::steadyNowNs();
    console.join();
    stalling.release();
    PresenterStop.detach();
    StopFlag.store(false);
    *im.queue.GetAddressOf() = nullptr;
    im.queue = std::move(realQueue);

    EXPECT_LT(endedAt - stopAt.load(), int64_t(1800000000)) << "the stop waited for a frame";
    EXPECT_LE(output.stats.frames, 4u);
    EXPECT_FALSE(output.stats.displayLost);
}

// Teardown waits for the GPU (up to 5 s) before the display is released: a frame still
// executing when the run ends keeps the display acquired until the GPU is done with it.
TEST_F(PresentLoopTest, TeardownReleasesTheDisplayOnlyOnceTheGpuIsDone) {
    useVirtualTime();  // the loop's own one-second fence wait takes no real time
    PresenterImpl& im = *presenter->im;
    ComPtr<ID3D12CommandQueue> realQueue = std::move(im.queue);
    StallingQueue stalling(realQueue.Get());
    *im.queue.GetAddressOf() = &stalling;
    // Alive for the release below, whatever teardown does.
    ID3D12Device* device = im.dev.Get();
    ID3D12Fence* fence = im.fence.Get();
    device->AddRef();
    fence->AddRef();
    run(0.0, [&](const FrameContext& frame) {
        if (frame.frameIndex != 3) return;
        stalling.holdNextSignal();  // this frame is still on the GPU when the run ends
        presenter->requestStop();
    });
    *im.queue.GetAddressOf() = nullptr;
    im.queue = std::move(realQueue);
    ASSERT_LT(fence->GetCompletedValue(), im.fenceValue) << "the last frame was not held";

    std::atomic<bool> acquiredAtGpuDone{false};
    std::thread gpu([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        acquiredAtGpuDone = sim::displayState().acquired;
        // Released under it, the frame's fence would signal an event teardown has closed.
        if (acquiredAtGpuDone) stalling.release();
    });
    const int64_t teardownStart = platform::steadyNowNs();
    presenter.reset();
    const int64_t teardownNs = platform::steadyNowNs() - teardownStart;
    gpu.join();
    EXPECT_TRUE(acquiredAtGpuDone.load()) << "the display was released under a frame still on the GPU";
    EXPECT_FALSE(sim::displayState().acquired);
    EXPECT_LT(teardownNs, int64_t(4500000000)) << "teardown waited past the GPU's completion";
    fence->Release();
    device->Release();
}

// A log-off (the user's hung-app time-out 2 s) mid-run, the GPU stuck on a frame and the
// microcontroller silent with its commands never finished: the teardown, in the program's
// order, ends each wait by the deadline and releases the display within the hold.
TEST_F(PresentLoopTest, ALogOffWithTheGpuStuckAndTheMicrocontrollerSilentIsReleasedWithinTheHold) {
    const uint32_t holdMs = platform::sessionEndHoldMs(2000);
    sim::SimMcu mcu;
    McuProx link(mcu);
    const bool proxUp = link.open(50) && link.setBypass(true);
    PresenterImpl& im = *presenter->im;
    ComPtr<ID3D12CommandQueue> realQueue = std::move(im.queue);
    StallingQueue stalling(realQueue.Get());
    *im.queue.GetAddressOf() = &stalling;
    std::atomic<bool> gpuStuck{false};
    std::thread loop([&] {
        presenter->run(0.0, [&](const FrameContext& frame) {
            if (frame.frameIndex == 3) stalling.holdNextSignal();  // never released
            gpuStuck = frame.frameIndex >= 3;
        });
    });
    std::thread status(statusLineLoop, std::ref(*presenter), std::ref(link), std::cref(proxUp));
    EXPECT_TRUE(eventually([&] { return gpuStuck.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    mcu.setHung(true);
    mcu.setCommandsStuck(true);

    const int64_t stopNs = platform::steadyNowNs();
    platform::startTeardownDeadline(stopNs, holdMs);
    StopFlag.exchange(true);
    presenter->requestStop();
    loop.join();
    status.join();
    const RestoreVerdict verdict = link.restoreBypass(platform::steadyNowNs() + 2000000000);
    link.close();
    *im.queue.GetAddressOf() = nullptr;
    im.queue = std::move(realQueue);
    presenter.reset();  // the frame's fence is never reached
    const int64_t releasedMs = (platform::steadyNowNs() - stopNs) / 1000000;
    platform::clearTeardownDeadline();
    StopFlag.store(false);
    ASSERT_TRUE(proxUp);
    EXPECT_NE(verdict, RestoreVerdict::Ok);
    EXPECT_FALSE(sim::displayState().acquired);
    EXPECT_LT(releasedMs, int64_t(holdMs)) << "released " << releasedMs << " ms after the log-off";
}

}  // namespace
}  // namespace corva
