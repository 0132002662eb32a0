#include "platform/platform.h"

#include <windows.h>

namespace corva::platform {

unsigned long lastSystemError() {
    return GetLastError();
}

}  // namespace corva::platform
