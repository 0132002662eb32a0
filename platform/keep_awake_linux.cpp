// No per-process keep-awake request here: a run is not kept awake (the machine's condition
// says unmeasured).
#include "platform/keep_awake.h"

namespace corva::platform {

KeepAwake::KeepAwake() = default;
KeepAwake::~KeepAwake() = default;

}  // namespace corva::platform
