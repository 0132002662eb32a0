// The Windows loader's test hook, beside the platform-neutral ones of test_hooks.h.
#pragma once

#include "nvapi/loader_win32.h"

namespace corva::nvapi_loader {

// The loader makes these calls from now on and forgets everything it had loaded (driver
// library, preload and its result, Windows level), without freeing it.
void useWin32CallsForTesting(const Win32Calls& calls);

}  // namespace corva::nvapi_loader
