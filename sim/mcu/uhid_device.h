// One virtual HID device through the kernel's /dev/uhid: created with the MCU's ids and a
// vendor report descriptor (no report ids, 64-byte input and feature reports), fed input
// reports, and asked for feature reports, which a handler answers. Linux only. One thread
// services the kernel's requests; others may send input and plug or unplug.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace corva::sim {

class UhidDevice {
  public:
    // Answers one feature report (report number, then the bytes the host sent, report
    // number included); false fails the host's request.
    using FeatureHandler = std::function<bool(uint8_t reportNumber, const uint8_t* data, size_t size)>;

    UhidDevice() = default;
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Opens /dev/uhid; false with `error()` set when it cannot.
    bool open();
    // Creates (plugs in) the device; destroy() unplugs it. Both may be repeated.
    bool create(uint16_t vendorId, uint16_t productId, const std::string& name);
    bool destroy();
    bool created() const { return created_; }
    // One input report (without a report id: the descriptor has none).
    bool sendInput(const uint8_t* data, size_t size);

    // Waits up to `timeoutMs` for one event from the kernel and handles it: feature
    // requests go to the handler and are answered. False when the device file failed.
    bool serviceOne(int timeoutMs, const FeatureHandler& onSetFeature);

    const std::string& error() const { return error_; }

  private:
    bool writeEvent(const void* event, size_t size);

    int fd_ = -1;
    std::mutex writeMutex_;  // one event per write, from several threads
    bool created_ = false;   // changed by the thread that plugs and unplugs
    std::string error_;
};

}  // namespace corva::sim
