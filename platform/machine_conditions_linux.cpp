// Linux has no per-process timer resolution or power throttling to read back: the
// machine's condition is unmeasured here (never held).
#include "platform/machine_conditions.h"

namespace corva::platform {

MachineFigures measureMachine(bool) {
    return {};
}

}  // namespace corva::platform
