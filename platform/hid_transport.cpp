#include "platform/hid_transport.h"

#include "lines/printed_lines.h"
#include "platform/line_output.h"
#include "platform/platform.h"

namespace corva {

std::atomic<HidTransport*> detail::installedHidTransport{nullptr};

void printRefusedInterface(const HidReportLengths& lengths) {
    // The transport is what finds the interfaces: printed through the platform's seam.
    platform::printLine(lines::kMcuInterfaceRefused, lengths.input, lengths.feature, kHidReportBytes);
}

bool HidTransport::setFeature(HidHandle handle, const uint8_t* report, size_t size) {
    return setFeature(handle, report, size, platform::teardownWaitMs(kFeatureTimeoutMs));
}

HidTransport& systemHidTransport() {
    HidTransport* installed = detail::installedHidTransport.load();
    return installed != nullptr ? *installed : detail::osHidTransport();
}

}  // namespace corva
