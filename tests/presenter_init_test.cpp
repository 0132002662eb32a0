// The presenter's bring-up against the simulated driver and display: its lines, its
// failure lines with their fixed line numbers, what reaches the display, and teardown.
#include "nvapi/nvapi.h"
#include "tests/support/sample_lines.h"
#include "platform/platform.h"
#include "present/bring_up_calls.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_display.h"
#include "sim/driver/sim_driver_config.h"
#include "tests/support/graphics_faults.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/test_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace corva {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test::countOf;

size_t callsNamed(const std::string& name) {
    size_t count = 0;
    for (const sim::CallRecord& call : sim::CallLog::instance().records())
        count += call.name == name && call.arguments ? 1 : 0;
    return count;
}

class PresenterInit : public ::testing::Test {
  protected:
    void SetUp() override { sim::resetDisplay(config); }
    // Whatever a test left acquired goes back before the next one.
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }

    // Configure the simulated headset, then bring the presenter up with its output captured.
    bool init() {
        sim::resetDisplay(config);
        sim::CallLog::instance().clear();
        presenter = std::make_unique<NvapiD3d12Presenter>(PresenterConfig{});
        if (virtualTime) presenter->im->clock = &virtualClock;
        PresenterClock& clock = *presenter->im->clock;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int64_t start = clock.nowNs();
        const bool ok = presenter->init();
        seconds = double(clock.nowNs() - start) / 1e9;
        err = ::testing::internal::GetCapturedStderr();
        out = ::testing::internal::GetCapturedStdout();
        return ok;
    }
    void script(NvInterfaceId operation, std::vector<NvStatus> first, NvStatus then = kNvOk) {
        config.statuses[operation] = sim::StatusScript{std::move(first), then};
    }
    // Destroys the presenter and returns how many release calls the display received.
    size_t releasesOnTeardown() {
        presenter.reset();
        return callsNamed("ReleaseDirectModeDisplay");
    }
    void expectInOrder(const std::vector<std::string>& lines) const {
        size_t at = 0;
        for (const std::string& line : lines) {
            const size_t found = out.find(line, at);
            ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << out;
            at = found + line.size();
        }
    }

    test::SimDriverSandbox sandbox;
    sim::DisplayConfig config = sim::defaultHeadset();
    std::unique_ptr<NvapiD3d12Presenter> presenter;
    std::string out;
    std::string err;
    double seconds = 0.0;      // on the presenter's clock
    bool virtualTime = false;  // the acquisition's retry sleeps take no real time
    test::VirtualClock virtualClock;
};

TEST_F(PresenterInit, DefaultHeadsetComesUpAt75HzWithForcedCompression) {
    ASSERT_TRUE(init()) << err;
    expectInOrder({test::printed(lines::kDriverVersion, 551, 23, "r550_00"),
                   test::printed(lines::kEnableDirectMode, 0x2709u, 0u),
                   test::printed(lines::kDisplayId, 0x80061082u),
                   "mode[0]: 1920x1080 @ 60.000 Hz format=22\n", "mode[5]: 2544x2544 @ 75.000 Hz format=22\n",
                   "using mode 5088x2544 @ 75.000 Hz format=22\n", test::printed(lines::kForcingDsc),
                   test::printed(lines::kAcquire, 0u, ""), "surface: 5088x2544 format=90\n",
                   "rtv format: 87\n", test::printed(lines::kSetDisplayMode, 0u),
                   test::printed(lines::kPowerOn, 0u), test::printed(lines::kWaitable, 0u)});
    EXPECT_THAT(out, Not(HasSubstr("not offered")));
    EXPECT_THAT(err, Not(HasSubstr("Presenter:")));

    const PresenterImpl& im = *presenter->im;
    EXPECT_EQ(im.refreshHz, 75.0);
    EXPECT_EQ(im.width, 5088u);
    EXPECT_EQ(im.height, 2544u);
    EXPECT_EQ(im.rtvFormat, 87u);
    EXPECT_TRUE(im.acquired);
    EXPECT_TRUE(im.waitableOk);
    EXPECT_NE(im.surf[0], im.surf[1]);
    EXPECT_NE(im.rtv[0].ptr, im.rtv[1].ptr);

    // The display got the driver's 75 Hz record with only the compression fields changed.
    const NvDirectModeMode& offered = config.modes[2];
    const sim::DisplayState display = sim::displayState();
    EXPECT_TRUE(display.acquired);
    EXPECT_TRUE(display.modeSet);
    EXPECT_TRUE(display.panelOn);
    EXPECT_EQ(display.surfacesLive, 2u);
    for (const NvDirectModeMode& given : {display.mode, display.surfaceMode}) {
        EXPECT_EQ(std::memcmp(&given, &offered, offsetof(NvDirectModeMode, dscEnable)), 0);
        EXPECT_EQ(given.dscEnable, 1u);
        EXPECT_EQ(given.dscVersion, 0x11u);
        EXPECT_EQ(given.dscSlices, 4u);
        EXPECT_EQ(given.dscBitsPerPixelX16, 128u);
    }
    // The panels are on: the waitable is signalled by the display's vertical blank.
    EXPECT_EQ(platform::waitFor(im.waitable, 1000), platform::WaitResult::Signalled);

    // The display calls, in order, with their arguments.
    std::vector<std::string> displayCalls;
    for (sim::CallRecord call : sim::CallLog::instance().records())
        if (call.status) {  // driver settings and the version queries return none
            call.status.reset();
            displayCalls.push_back(sim::formatCall(call));
        }
    ASSERT_EQ(displayCalls.size(), 13u) << ::testing::PrintToString(displayCalls);
    EXPECT_EQ(displayCalls[0], "EnableDirectMode(vendorId=0x2709, flags=0)");
    EXPECT_EQ(
        displayCalls[1],
        "NvAPI_DISP_EnumerateDirectModeDisplays(vendorId=0x2709, numDisplays=0, displays=null, flags=1)");
    EXPECT_EQ(
        displayCalls[2],
        "NvAPI_DISP_EnumerateDirectModeDisplays(vendorId=0x2709, numDisplays=1, displays=buffer, flags=1)");
    EXPECT_EQ(displayCalls[3],
              "NvAPI_D3D_DirectModeGetDisplayModes(displayId=0x80061082, modeCount=0, modes=null, flags=0)");
    EXPECT_EQ(
        displayCalls[4],
        "NvAPI_D3D_DirectModeGetDisplayModes(displayId=0x80061082, modeCount=6, modes=buffer, flags=0)");
    EXPECT_EQ(displayCalls[5], "NvAPI_SYS_GetPhysicalGpuFromDisplayId(displayId=0x80061082)");
    EXPECT_EQ(displayCalls[6].rfind("NvAPI_D3D_GetIDXGIAdapter(", 0), 0u);
    EXPECT_EQ(displayCalls[7], "AcquireDirectModeDisplay(vendorId=0x2709, device=set, displayId=0x80061082)");
    EXPECT_EQ(
        displayCalls[8].rfind("NvAPI_D3D_DirectModeCreateSurface(displayId=0x80061082, mode=5088x2544", 0),
        0u);
    EXPECT_EQ(
        displayCalls[9].rfind("NvAPI_D3D_DirectModeCreateSurface(displayId=0x80061082, mode=5088x2544", 0),
        0u);
    EXPECT_EQ(displayCalls[10],
              "SetDisplayMode(displayId=0x80061082, mode=5088x2544 75000/1000 format=22 dsc=1/0x11/4/128)");
    EXPECT_EQ(displayCalls[11], "DisplayControl(displayId=0x80061082, control=0)");
    EXPECT_EQ(displayCalls[12], "GetPresentWaitableObject(displayId=0x80061082)");

    EXPECT_EQ(releasesOnTeardown(), 1u);
    EXPECT_EQ(sim::CallLog::instance().calls().back(),
              "ReleaseDirectModeDisplay(vendorId=0x2709, displayId=0x80061082) = 0x0");
    EXPECT_FALSE(sim::displayState().acquired);
    EXPECT_EQ(sim::displayState().surfacesLive, 0u);
}

TEST_F(PresenterInit, OnlyOtherRateOfferedFallsBackToFastestModeOfLinkFormat) {
    config.modes = {sim::makeMode(1920, 1080, 60, 1, 22), sim::makeMode(5088, 2544, 90, 1, 22)};
    ASSERT_TRUE(init()) << err;
    expectInOrder({"mode[1]: 5088x2544 @ 90.000 Hz format=22\n",
                   test::printed(lines::kModeFallback, 5088u, 2544u, 75.0, 5088u, 2544u, 90.0, 22),
                   "using mode 5088x2544 @ 90.000 Hz format=22\n"});
    EXPECT_EQ(presenter->im->refreshHz, 90.0);
    EXPECT_EQ(sim::displayState().mode.refreshNum, 90u);
}

TEST_F(PresenterInit, NoModeOfLinkFormatRefusesBeforeTouchingTheGpu) {
    config.modes = {sim::makeMode(5088, 2544, 75, 1, 19)};
    EXPECT_FALSE(init());
    EXPECT_THAT(out, HasSubstr("mode[0]: 5088x2544 @ 75.000 Hz format=19\n"));
    EXPECT_THAT(err, HasSubstr(std::string(lines::kNoModeMatches.prefix()) +
                               "5088x2544@75 format 22 \xE2\x80\x94 refusing to guess "
                               "(mode list above)\n"));
    EXPECT_EQ(callsNamed("NvAPI_SYS_GetPhysicalGpuFromDisplayId"), 0u);
    EXPECT_EQ(presenter->im->dev.Get(), nullptr);
    EXPECT_EQ(releasesOnTeardown(), 0u);
}

TEST_F(PresenterInit, NoDisplayAttached) {
    config.displays.clear();
    EXPECT_FALSE(init());
    EXPECT_EQ(err, test::printed(lines::kNoDisplay));
    EXPECT_EQ(releasesOnTeardown(), 0u);
}

// Counted, then gone before the list was filled: the same no-display failure, nothing
// taken from the empty list.
TEST_F(PresenterInit, DisplayGoneBetweenTheTwoEnumerations) {
    config.detachAfterCount = true;
    EXPECT_FALSE(init());
    EXPECT_EQ(err, test::printed(lines::kNoDisplay));
    EXPECT_THAT(out, Not(HasSubstr("using displayId")));
    EXPECT_EQ(callsNamed("NvAPI_DISP_EnumerateDirectModeDisplays"), 2u);
    EXPECT_EQ(callsNamed("NvAPI_D3D_DirectModeGetDisplayModes"), 0u);
    EXPECT_EQ(releasesOnTeardown(), 0u);
}

TEST_F(PresenterInit, HighQueuePriorityRefusedFallsBackToNormalWithOneWarning) {
    config.refuseHighPriorityQueue = true;
    ASSERT_TRUE(init()) << err;
    EXPECT_EQ(countOf(err, test::printed(lines::kNormalQueuePriority)), 1u);
    EXPECT_EQ(presenter->im->queue->GetDesc().Priority, D3D12_COMMAND_QUEUE_PRIORITY_NORMAL);
}

TEST_F(PresenterInit, HdcpDisabledAcquisitionContinuesAtOnce) {
    script(NvInterfaceId::AcquireDirectModeDisplay, {}, kNvHdcpDisabled);
    ASSERT_TRUE(init()) << err;
    EXPECT_EQ(countOf(out, "AcquireDirectModeDisplay = "), 1u);
    EXPECT_THAT(out,
                HasSubstr(std::string(lines::kAcquire.prefix()) + "ffffff30 (HDCP disabled, continuing)\n"));
    EXPECT_EQ(sim::displayState().acquireCalls, 1u);
    EXPECT_EQ(releasesOnTeardown(), 1u);
}

TEST_F(PresenterInit, AcquisitionRetriesEverySecondUntilItSucceeds) {
    // Three failures in virtual time, one on the platform's clock.
    for (const size_t failures : {3u, 1u}) {
        virtualTime = failures > 1;
        script(NvInterfaceId::AcquireDirectModeDisplay, std::vector<NvStatus>(failures, -1));
        ASSERT_TRUE(init()) << err;
        EXPECT_EQ(countOf(out, test::printed(lines::kAcquire, 0xffffffffu, "")), failures);
        expectInOrder({test::printed(lines::kAcquire, 0xffffffffu, ""),
                       test::printed(lines::kAcquire, 0u, ""), "surface: 5088x2544 format=90\n"});
        EXPECT_EQ(sim::displayState().acquireCalls, failures + 1);
        EXPECT_GE(seconds, double(failures) - 0.05);  // one-second sleeps
        EXPECT_EQ(releasesOnTeardown(), 1u);
    }
}

// Ten one-second sleeps, in virtual time: the tenth refusal is the last.
TEST_F(PresenterInit, TenRefusedAcquisitionsGiveUpAndOweNoRelease) {
    virtualTime = true;
    script(NvInterfaceId::AcquireDirectModeDisplay, {}, -1);
    EXPECT_FALSE(init());
    EXPECT_EQ(countOf(out, test::printed(lines::kAcquire, 0xffffffffu, "")), 10u);
    EXPECT_THAT(out, Not(HasSubstr("surface:")));
    EXPECT_THAT(err, Not(HasSubstr("Presenter:")));
    EXPECT_EQ(sim::displayState().acquireCalls, 10u);
    EXPECT_GE(seconds, 9.95);
    EXPECT_FALSE(presenter->im->acquired);
    EXPECT_EQ(releasesOnTeardown(), 0u);
}

TEST_F(PresenterInit, TypedSurfaceFormatIsRefusedAndTheDisplayReleasedOnce) {
    config.surfaceFormat = 28;  // R8G8B8A8_UNORM
    EXPECT_FALSE(init());
    EXPECT_THAT(out, HasSubstr("surface: 5088x2544 format=28\n"));
    EXPECT_THAT(out, Not(HasSubstr("rtv format:")));
    EXPECT_THAT(err, HasSubstr(test::printed(lines::kNoTypedView, 28)));
    EXPECT_EQ(callsNamed("SetDisplayMode"), 0u);
    EXPECT_EQ(releasesOnTeardown(), 1u);
}

TEST_F(PresenterInit, ModeSetHdcpStatusCountsAsSuccess) {
    script(NvInterfaceId::SetDisplayMode, {}, kNvHdcpDisabled);
    ASSERT_TRUE(init()) << err;
    EXPECT_THAT(out,
                HasSubstr(test::printed(lines::kSetDisplayMode, 0u) + test::printed(lines::kPowerOn, 0u)));
    EXPECT_TRUE(sim::displayState().modeSet);
}

TEST_F(PresenterInit, FailedModeSetStopsBeforePanelPower) {
    script(NvInterfaceId::SetDisplayMode, {}, -1);
    EXPECT_FALSE(init());
    EXPECT_THAT(out, HasSubstr(test::printed(lines::kSetDisplayMode, 0xffffffffu)));
    EXPECT_EQ(callsNamed("DisplayControl"), 0u);
    EXPECT_FALSE(sim::displayState().panelOn);
    EXPECT_EQ(releasesOnTeardown(), 1u);
}

TEST_F(PresenterInit, RefusedWaitableStillSucceedsWithoutOne) {
    script(NvInterfaceId::GetPresentWaitableObject, {}, -1);
    ASSERT_TRUE(init()) << err;
    EXPECT_THAT(out, HasSubstr(std::string(lines::kWaitable.prefix()) + "ffffffff\n"));
    EXPECT_FALSE(presenter->im->waitableOk);
    EXPECT_EQ(presenter->im->waitable, nullptr);
}

// The failure line of a reported call: its text and line from the table of reported calls.
std::string failureLine(BringUpCall call, uint32_t status) {
    char line[512];
    std::snprintf(line, sizeof(line), "Presenter: %s = 0x%x (line %d)\n", siteOf(call).text, status,
                  siteOf(call).line);
    return line;
}

std::string nameByLine(BringUpCall call) {
    return "line" + std::to_string(siteOf(call).line);
}

// The texts and line numbers users and support scripts search the logs for.
TEST(BringUpCallSites, KeepTheirPublishedTextsAndLines) {
    const std::pair<int, const char*> published[] = {
        {171, "NvAPI_Initialize()"},
        {195,
         "NvAPI_DISP_EnumerateDirectModeDisplays( kVendorId, &numDisplays, displays.data(), "
         "NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)"},
        {202,
         "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, nullptr, "
         "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)"},
        {206,
         "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, modes.data(), "
         "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)"},
        {267, "NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)"},
        {269, "NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf())"},
        {271, "D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev))"},
        {282, "im.dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&im.queue))"},
        {287, "im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&im.alloc))"},
        {290,
         "im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr, "
         "IID_PPV_ARGS(&im.list))"},
        {291, "im.list->Close()"},
        {292, "im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&im.fence))"},
        {317, "NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], &shared[i])"},
        {318, "im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i]))"},
        {347, "im.dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&im.rtvHeap))"},
    };
    ASSERT_EQ(std::size(kBringUpCallSites), std::size(published));
    for (size_t i = 0; i < std::size(published); ++i) {
        EXPECT_EQ(kBringUpCallSites[i].line, published[i].first);
        EXPECT_STREQ(kBringUpCallSites[i].text, published[i].second);
    }
}

struct DriverFailure {
    BringUpCall call;
    NvInterfaceId operation;
    std::vector<NvStatus> first;  // the failing call comes last
    bool acquired;                // the display had been acquired: one release owed
};

class PresenterInitDriverFailure : public PresenterInit,
                                   public ::testing::WithParamInterface<DriverFailure> {};

TEST_P(PresenterInitDriverFailure, PrintsCallTextStatusAndFixedLine) {
    const DriverFailure& failure = GetParam();
    script(failure.operation, failure.first);
    EXPECT_FALSE(init());
    EXPECT_THAT(err, HasSubstr(failureLine(failure.call, 0xfffffffb)));
    EXPECT_EQ(countOf(err, "Presenter: "), 1u) << err;
    EXPECT_EQ(releasesOnTeardown(), failure.acquired ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PresenterInitDriverFailure,
    ::testing::Values(
        DriverFailure{
            BringUpCall::EnumerateDisplays, NvInterfaceId::EnumerateDirectModeDisplays, {0, -5}, false},
        DriverFailure{BringUpCall::CountModes, NvInterfaceId::DirectModeGetDisplayModes, {-5}, false},
        DriverFailure{BringUpCall::ListModes, NvInterfaceId::DirectModeGetDisplayModes, {0, -5}, false},
        DriverFailure{BringUpCall::GpuOfDisplay, NvInterfaceId::GetPhysicalGpuFromDisplayId, {-5}, false},
        DriverFailure{BringUpCall::AdapterOfGpu, NvInterfaceId::GetIDXGIAdapter, {-5}, false},
        DriverFailure{BringUpCall::CreateSurface, NvInterfaceId::DirectModeCreateSurface, {0, -5}, true}),
    [](const ::testing::TestParamInfo<DriverFailure>& info) { return nameByLine(info.param.call); });

struct GraphicsFailure {
    test::GraphicsCall graphicsCall;
    unsigned failures;  // queue creation is tried twice: high priority, then normal
    HRESULT result;
    BringUpCall call;
    bool acquired;  // the display had been acquired: one release owed
};

class PresenterInitGraphicsFailure : public PresenterInit,
                                     public ::testing::WithParamInterface<GraphicsFailure> {
  protected:
    void TearDown() override {
        test::clearGraphicsFaults();
        PresenterInit::TearDown();
    }
};

// The real D3D12 call fails (vkd3d natively, Wine's D3D12 under Wine): its line, nothing
// after it, and every object made before it released with the presenter and only by it.
TEST_P(PresenterInitGraphicsFailure, PrintsCallTextResultAndFixedLineAndLeaksNothing) {
    const GraphicsFailure& failure = GetParam();
    ASSERT_TRUE(test::failGraphicsCalls(failure.graphicsCall, failure.result, failure.failures));
    EXPECT_FALSE(init());
    EXPECT_EQ(err, failureLine(failure.call, static_cast<uint32_t>(failure.result)));
    EXPECT_THAT(out, Not(HasSubstr("SetDisplayMode")));

    // With one reference of ours each, taken before the presenter goes: each object goes
    // when we let go of it (children before the device they hold), so nothing else kept one.
    PresenterImpl& im = *presenter->im;
    std::vector<IUnknown*> made;
    for (IUnknown* object :  // in order of creation
         std::initializer_list<IUnknown*>{im.dev.Get(), im.queue.Get(), im.alloc.Get(), im.list.Get(),
                                          im.fence.Get(), im.res[0].Get(), im.res[1].Get(), im.rtvHeap.Get()})
        if (object != nullptr) made.push_back(object);
    for (IUnknown* object : made) object->AddRef();
    // Released in reverse order of creation: the heap and surfaces first, the device last.
    const std::vector<IUnknown*> order =
        test::releaseOrder(made, [&] { EXPECT_EQ(releasesOnTeardown(), failure.acquired ? 1u : 0u); });
    EXPECT_EQ(order, std::vector<IUnknown*>(made.rbegin(), made.rend()));
    EXPECT_EQ(sim::displayState().surfacesLive, 0u);
    for (auto object = made.rbegin(); object != made.rend(); ++object) EXPECT_EQ((*object)->Release(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PresenterInitGraphicsFailure,
    ::testing::Values(
        GraphicsFailure{test::GraphicsCall::CreateDevice, 1, HRESULT(0x887A0004), BringUpCall::CreateDevice,
                        false},
        GraphicsFailure{test::GraphicsCall::CreateCommandQueue, 2, E_INVALIDARG, BringUpCall::CreateQueue,
                        false},
        GraphicsFailure{test::GraphicsCall::CreateCommandAllocator, 1, E_OUTOFMEMORY,
                        BringUpCall::CreateAllocator, false},
        GraphicsFailure{test::GraphicsCall::CreateCommandList, 1, E_FAIL, BringUpCall::CreateList, false},
        GraphicsFailure{test::GraphicsCall::CloseCommandList, 1, E_INVALIDARG, BringUpCall::CloseList, false},
        GraphicsFailure{test::GraphicsCall::CreateFence, 1, HRESULT(0x887A0005), BringUpCall::CreateFence,
                        false},
        GraphicsFailure{test::GraphicsCall::OpenSharedHandle, 1, HRESULT(0x80070005),
                        BringUpCall::OpenSurface, true},
        GraphicsFailure{test::GraphicsCall::CreateDescriptorHeap, 1, E_OUTOFMEMORY,
                        BringUpCall::CreateRtvHeap, true}),
    [](const ::testing::TestParamInfo<GraphicsFailure>& info) { return nameByLine(info.param.call); });

TEST_F(PresenterInit, FailedDriverInitialisationIsReported) {
    sim::DriverFaults faults;
    faults.initialize = -1;
    sim::setFaults(faults);
    EXPECT_FALSE(init());
    EXPECT_EQ(err, failureLine(BringUpCall::Initialize, 0xffffffff));
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace corva
