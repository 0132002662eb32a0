// Linux has no HID path to the headset's MCU: the program installs a device model (the
// simulated MCU). Without one, the transport below finds no devices, so the link reports
// itself unavailable.
#include "platform/hid_transport.h"

#include <atomic>

namespace corva {

namespace {

class NoDeviceTransport final : public HidTransport {
  public:
    std::vector<HidHandle> openInterfaces(uint16_t, uint16_t) override { return {}; }
    bool setFeature(HidHandle, const uint8_t*, size_t) override { return false; }
    int readReport(HidHandle, void*, uint8_t*, size_t, uint32_t) override { return -1; }
    void cancelIo(HidHandle) override {}
    void close(HidHandle) override {}
    unsigned long lastError() const override { return hid_error::kInvalidHandle; }
};

std::atomic<HidTransport*> gInstalled{nullptr};

}  // namespace

void installHidTransport(HidTransport* transport) {
    gInstalled.store(transport);
}

HidTransport& systemHidTransport() {
    static NoDeviceTransport none;
    HidTransport* installed = gInstalled.load();
    return installed != nullptr ? *installed : none;
}

}  // namespace corva
