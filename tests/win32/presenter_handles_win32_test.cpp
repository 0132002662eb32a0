// The system handles of the presenter's bring-up, watched through the event and close calls
// (replaced for the test): the surfaces' shared handles are closed once the surfaces are
// opened, and a fence event that cannot be created fails the bring-up.
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "sim/sim_display.h"
#include "tests/support/loop_presenter.h"
#include "tests/support/sim_driver_sandbox.h"
#include "tests/support/win32/import_swap.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" decltype(&::CreateEventA) __imp_CreateEventA;
extern "C" decltype(&::CloseHandle) __imp_CloseHandle;

namespace corva {
namespace {

decltype(&::CreateEventA) gRealCreateEvent = nullptr;
decltype(&::CloseHandle) gRealClose = nullptr;
std::vector<HANDLE> gCreated, gClosed;
bool gRefuseEvents = false;

HANDLE WINAPI recordCreateEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manual, BOOL initial, LPCSTR name) {
    if (gRefuseEvents) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE event = gRealCreateEvent(attributes, manual, initial, name);
    gCreated.push_back(event);
    return event;
}
BOOL WINAPI recordClose(HANDLE handle) {
    gClosed.push_back(handle);
    return gRealClose(handle);
}

class Win32PresenterHandles : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::resetDisplay(test::loopHeadset());
        gCreated.clear();
        gClosed.clear();
    }
    void TearDown() override {
        presenter.reset();
        sim::resetDisplay();
    }
    bool init(bool refuseEvents) {
        presenter = std::make_unique<NvapiD3d12Presenter>(
            PresenterConfig{test::kLoopWidth, test::kLoopHeight, 75.0, 22});
        test::ImportSwap create(&__imp_CreateEventA, recordCreateEvent);
        test::ImportSwap close(&__imp_CloseHandle, recordClose);
        gRealCreateEvent = create.original();
        gRealClose = close.original();
        gRefuseEvents = refuseEvents;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const bool ready = presenter->init();
        ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
        gRefuseEvents = false;
        return ready;
    }

    test::SimDriverSandbox sandbox;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
    std::string err;
};

// The handles naming the surfaces are closed by the end of the bring-up; the fence event
// and the present waitable stay open.
TEST_F(Win32PresenterHandles, SharedSurfaceHandlesAreClosedOnceOpened) {
    ASSERT_TRUE(init(false)) << err;
    const sim::DisplayState display = sim::displayState();
    ASSERT_EQ(display.sharedHandles.size(), 2u);
    for (void* shared : display.sharedHandles) {
        EXPECT_NE(std::find(gCreated.begin(), gCreated.end(), shared), gCreated.end());
        // The second may reuse the value of the first, once that was closed.
        EXPECT_EQ(std::count(gClosed.begin(), gClosed.end(), shared),
                  std::count(display.sharedHandles.begin(), display.sharedHandles.end(), shared));
    }
    EXPECT_EQ(std::count(gClosed.begin(), gClosed.end(), presenter->im->fenceEvent), 0);
    EXPECT_EQ(std::count(gClosed.begin(), gClosed.end(), presenter->im->waitable), 0);
}

TEST_F(Win32PresenterHandles, AFenceEventThatCannotBeCreatedFailsTheBringUp) {
    EXPECT_FALSE(init(true));
    EXPECT_EQ(err, "Presenter: fence event not created (system error 8)\n");
    EXPECT_EQ(presenter->im->fenceEvent, nullptr);
    EXPECT_EQ(sim::displayState().acquireCalls, 0u);
}

}  // namespace
}  // namespace corva
