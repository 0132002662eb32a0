// The WAKE_PHASES line: where a timed wake's time went.
#pragma once

#include <string_view>

#include "report/log_model.h"

namespace corva::report {

// "WAKE_PHASES react=R mode=M power=P vblank=V on=LO..HI ms", each "-" when not taken.
bool parseWakePhases(std::string_view line, WakePhases& out);

}  // namespace corva::report
