// The wake phases of one run's cycles as stacked bars, with the displays-on interval as
// an error bar.
#pragma once

#include "report/log_model.h"
#include "report/svg_canvas.h"

namespace corva::report {

void drawWakePhases(Svg& svg, const LoggedRun& run, double left, double right, double top, double bottom);

}  // namespace corva::report
