// Text a device supplies (the firmware version) made safe to print: a device must not be
// able to break or forge lines of the log.
#pragma once

#include <string>
#include <string_view>

namespace corva::prox {

// Control characters and bytes above 0x7E become \xNN (two upper-case hex digits); every
// other byte is kept.
std::string printableDeviceText(std::string_view text);

}  // namespace corva::prox
