#include "present/bring_up_calls.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "nvapi/nvapi.h"

namespace corva {
namespace {

// The line of the call's own kind: readers find the kind again from the call's text.
void printFailed(BringUpCall call, uint32_t status) {
    const BringUpCallSite& site = siteOf(call);
    if (site.kind == CallKind::Driver)
        lines::print(lines::kDriverCallFailed, site.text, status, site.line);
    else
        lines::print(lines::kGraphicsCallFailed, site.text, static_cast<unsigned long>(status), site.line);
}

}  // namespace

bool driverCallOk(BringUpCall call, int32_t status) {
    if (status == kNvOk) return true;
    printFailed(call, static_cast<uint32_t>(status));
    return false;
}

// HRESULT is 32-bit on both platforms; printed as such, also where long is 64-bit.
bool graphicsCallOk(BringUpCall call, int32_t result) {
    if (result >= 0) return true;
    printFailed(call, static_cast<uint32_t>(result));
    return false;
}

}  // namespace corva
