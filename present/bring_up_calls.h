// The presenter's checks of its bring-up calls: a failed one prints its failure line, with the
// call's text and fixed line number from the table of bring-up calls (lines/bring_up_calls.h).
#pragma once

#include <cstdint>

#include "lines/bring_up_calls.h"

namespace corva {

// True when the driver status (an NvStatus) is 0; otherwise prints the call's failure line.
bool driverCallOk(BringUpCall call, int32_t status);
// True when the graphics result (an HRESULT) is not negative; otherwise prints the call's
// failure line.
bool graphicsCallOk(BringUpCall call, int32_t result);

}  // namespace corva
