#include "present/bring_up_calls.h"

#include <cstdio>

namespace corva {

bool driverCallOk(BringUpCall call, NvStatus status) {
    if (status == kNvOk) return true;
    const BringUpCallSite& site = siteOf(call);
    std::fprintf(stderr, "Presenter: %s = 0x%x (line %d)\n", site.text, static_cast<unsigned>(status),
                 site.line);
    return false;
}

// HRESULT is 32-bit on both platforms; printed as such, also where long is 64-bit.
bool graphicsCallOk(BringUpCall call, HRESULT result) {
    if (!FAILED(result)) return true;
    const BringUpCallSite& site = siteOf(call);
    std::fprintf(stderr, "Presenter: %s = 0x%lx (line %d)\n", site.text,
                 static_cast<unsigned long>(static_cast<uint32_t>(result)), site.line);
    return false;
}

}  // namespace corva
