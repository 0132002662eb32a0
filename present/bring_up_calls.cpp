#include "present/bring_up_calls.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"

namespace corva {

bool driverCallOk(BringUpCall call, NvStatus status) {
    if (status == kNvOk) return true;
    const BringUpCallSite& site = siteOf(call);
    lines::print(lines::kDriverCallFailed, site.text, static_cast<unsigned>(status), site.line);
    return false;
}

// HRESULT is 32-bit on both platforms; printed as such, also where long is 64-bit.
bool graphicsCallOk(BringUpCall call, HRESULT result) {
    if (!FAILED(result)) return true;
    const BringUpCallSite& site = siteOf(call);
    lines::print(lines::kGraphicsCallFailed, site.text,
                 static_cast<unsigned long>(static_cast<uint32_t>(result)), site.line);
    return false;
}

}  // namespace corva
