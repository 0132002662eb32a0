// A presenter brought up on the simulated headset with one small 75 Hz mode, for the tests
// of the present loop: the loop's cost, not the renderer's, is what they look at.
#pragma once

#include "present/nvapi_d3d12_presenter.h"
#include "sim/driver/sim_display.h"

#include <memory>
#include <string>

namespace corva::test {

constexpr uint32_t kLoopWidth = 640;
constexpr uint32_t kLoopHeight = 320;

// The headset offering only kLoopWidth x kLoopHeight at 75 Hz, format 22.
sim::DisplayConfig loopHeadset();

// Resets the simulated display to `display`, brings a presenter up on it and forgets the
// bring-up's presents. Null when init() failed; `initOutput` holds what it printed.
std::unique_ptr<NvapiD3d12Presenter> bringUpLoopPresenter(const sim::DisplayConfig& display,
                                                          std::string& initOutput);

}  // namespace corva::test
