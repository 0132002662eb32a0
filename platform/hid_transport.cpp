#include "platform/hid_transport.h"

#include <cstdio>

namespace corva {

std::atomic<HidTransport*> detail::installedHidTransport{nullptr};

void printRefusedInterface(const HidReportLengths& lengths) {
    std::fprintf(stderr,
                 "McuProx: 35BD:0101 interface refused: input reports of %u bytes, feature reports of %u "
                 "bytes (the protocol's are %u)\n",
                 lengths.input, lengths.feature, kHidReportBytes);
}

HidTransport& systemHidTransport() {
    HidTransport* installed = detail::installedHidTransport.load();
    return installed != nullptr ? *installed : detail::osHidTransport();
}

}  // namespace corva
