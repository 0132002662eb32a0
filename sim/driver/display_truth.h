// The simulated display's own record as ground-truth text: every present and the vertical
// blank that first scanned it out, every vertical blank and the frame it showed, and the
// panels' power changes. Steady-clock nanoseconds, like the rest of the ground truth.
#pragma once

#include "sim/driver/sim_display.h"

#include <string>

namespace corva::sim {

//   present seq=N time_ns=T status=S shown_vblank=I    (I = -1: never scanned out)
//   vblank index=I time_ns=T present_seq=N new=0|1     (N = 0: nothing presented yet)
//   panel on=0|1 time_ns=T
std::string displayTruthText(const Timeline& timeline, const std::vector<PanelTransition>& panels);

}  // namespace corva::sim
