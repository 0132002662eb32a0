#include "platform/hid_transport.h"

#include "lines/printed_lines.h"

#include <cstdio>

namespace corva {

std::atomic<HidTransport*> detail::installedHidTransport{nullptr};

void printRefusedInterface(const HidReportLengths& lengths) {
    // Here, below the printing of lines: the transport is what finds the interfaces.
    std::fprintf(stderr, lines::kMcuInterfaceRefused.format(), lengths.input, lengths.feature,
                 kHidReportBytes);
}

HidTransport& systemHidTransport() {
    HidTransport* installed = detail::installedHidTransport.load();
    return installed != nullptr ? *installed : detail::osHidTransport();
}

}  // namespace corva
