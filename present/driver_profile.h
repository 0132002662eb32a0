// Pins tessaray.exe to maximum GPU performance in the driver's settings store.
#pragma once

namespace corva {

// Finds the profile holding "tessaray.exe" (or creates "corva" with it) and makes sure its
// power management mode is "prefer maximum performance", saving only when it changed.
// Prints at most one line: the pinned line on stdout when it wrote the setting, the
// could-not-pin line on stderr when a step after opening the session failed. Never fails
// the caller.
void pinDriverProfile();

}  // namespace corva
