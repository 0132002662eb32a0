// The few HID operations the proximity link needs. On Windows: SetupAPI, HID and
// overlapped file I/O. Elsewhere: whatever device model is installed (the simulated MCU).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva {

using HidHandle = void*;  // null: no device

class HidTransport {
public:
    virtual ~HidTransport() = default;

    // Opens every present HID interface that reports the given ids, in enumeration order;
    // interfaces of other devices are closed again.
    virtual std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) = 0;
    // Sends one feature report (report id in byte 0).
    virtual bool setFeature(HidHandle handle, const uint8_t* report, size_t size) = 0;
    // One overlapped input read: bytes read, 0 on timeout (read cancelled), -1 on error
    // (lastError() then holds the system's code). `event` is the caller's manual-reset event.
    virtual int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs) = 0;
    // Cancels every outstanding read on the handle, so a blocked readReport returns at once.
    virtual void cancelIo(HidHandle handle) = 0;
    virtual void close(HidHandle handle) = 0;
    virtual unsigned long lastError() const = 0;
};

// The transport McuProx uses when constructed with its defaults.
HidTransport& systemHidTransport();

}  // namespace corva
