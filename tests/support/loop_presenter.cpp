#include "tests/support/loop_presenter.h"

#include <gtest/gtest.h>

namespace corva::test {

sim::DisplayConfig loopHeadset() {
    sim::DisplayConfig display = sim::defaultHeadset();
    display.modes = {sim::makeMode(kLoopWidth, kLoopHeight, 75, 1, 22)};
    return display;
}

std::unique_ptr<NvapiD3d12Presenter> bringUpLoopPresenter(const sim::DisplayConfig& display,
                                                          std::string& initOutput) {
    sim::resetDisplay(display);
    auto presenter =
        std::make_unique<NvapiD3d12Presenter>(PresenterConfig{kLoopWidth, kLoopHeight, 75.0, 22});
    testing::internal::CaptureStdout();
    const bool ready = presenter->init();
    initOutput = testing::internal::GetCapturedStdout();
    if (!ready) return nullptr;
    sim::clearTimeline();
    return presenter;
}

}  // namespace corva::test
