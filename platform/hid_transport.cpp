#include "platform/hid_transport.h"

namespace corva {

std::atomic<HidTransport*> detail::installedHidTransport{nullptr};

HidTransport& systemHidTransport() {
    HidTransport* installed = detail::installedHidTransport.load();
    return installed != nullptr ? *installed : detail::osHidTransport();
}

}  // namespace corva
