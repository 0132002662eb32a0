#include "sim/platform/test_hooks.h"

namespace corva {

void installHidTransport(HidTransport* transport) {
    detail::installedHidTransport.store(transport);
}

}  // namespace corva
