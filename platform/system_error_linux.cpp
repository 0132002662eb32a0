#include "platform/platform.h"

#include <cerrno>

namespace corva::platform {

unsigned long lastSystemError() {
    return static_cast<unsigned long>(errno);
}

}  // namespace corva::platform
