// The few HID operations the proximity link needs. On Windows: SetupAPI, HID and
// overlapped file I/O. On Linux: the kernel's hidraw nodes. A program may install a device
// model instead (the simulated MCU).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva {

using HidHandle = void*;  // null: no device

// System error codes the link and its device models share (the Windows values).
namespace hid_error {
constexpr unsigned long kInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr unsigned long kGenFailure = 31;            // ERROR_GEN_FAILURE
constexpr unsigned long kOperationAborted = 995;     // ERROR_OPERATION_ABORTED
constexpr unsigned long kDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
}  // namespace hid_error

// A feature report the device has not finished in this long is given up.
constexpr uint32_t kFeatureTimeoutMs = 1000;

// The protocol's reports: a report id byte and 64 bytes.
constexpr unsigned kHidReportBytes = 65;

// An interface's report lengths as it declares them, report id byte included.
struct HidReportLengths {
    unsigned input = 0;
    unsigned feature = 0;
};
// Reads of 65 bytes take its input reports whole, and its feature reports are the 65-byte
// commands. Any other interface fails every read or command: it is refused.
constexpr bool reportLengthsFit(const HidReportLengths& lengths) {
    return lengths.input >= 2 && lengths.input <= kHidReportBytes && lengths.feature == kHidReportBytes;
}
// Says on standard error that an interface with the MCU's ids was refused, and why.
void printRefusedInterface(const HidReportLengths& lengths);

class HidTransport {
  public:
    virtual ~HidTransport() = default;

    // Opens every present HID interface that reports the given ids, in enumeration order,
    // for overlapped reads and writes; interfaces of other devices are closed again.
    virtual std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) = 0;
    // Sends one feature report (report id in byte 0). A request the device has not finished
    // within timeoutMs is cancelled and fails with kOperationAborted (on Windows; a hidraw
    // ioctl cannot be timed).
    virtual bool setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t timeoutMs) = 0;
    // With kFeatureTimeoutMs, or what is left of it before the teardown's deadline.
    bool setFeature(HidHandle handle, const uint8_t* report, size_t size);
    // One overlapped input read of the interface's input report length (at most `size`):
    // bytes read, 0 on timeout (read cancelled, nothing arrived), -1 on error (lastError()
    // then holds the system's code). A read that completes while its timeout is being
    // cancelled returns its bytes. `event` is the caller's manual-reset event (a
    // platform::OsHandle). `stopEvent`, if given (a manual-reset platform::OsHandle), is
    // waited on beside it: once set, also before the read began, the read ends as cancelled
    // (-1, kOperationAborted), where a cancelIo made just before the read would miss it.
    virtual int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                           void* stopEvent = nullptr) = 0;
    // Cancels every outstanding read on the handle: a blocked readReport returns -1 at once
    // with the code kOperationAborted.
    virtual void cancelIo(HidHandle handle) = 0;
    virtual void close(HidHandle handle) = 0;
    // The system error code of the calling thread's last failed call.
    virtual unsigned long lastError() const = 0;
};

// The transport McuProx uses when constructed with its defaults.
HidTransport& systemHidTransport();

namespace detail {
// A device model standing in for the system's HID devices (the simulated MCU), served by
// systemHidTransport() in their place; nullptr: the system's own. Only the simulated build
// sets it (installHidTransport in sim/platform/test_hooks.h).
extern std::atomic<HidTransport*> installedHidTransport;
// The system's own transport (one file per platform).
HidTransport& osHidTransport();
}  // namespace detail

}  // namespace corva
