// HID through SetupAPI, the HID class driver and overlapped file I/O.
#include "platform/hid_transport.h"

#include "lines/printed_lines.h"
#include "platform/hid_functions_win32.h"
#include "platform/line_output.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace corva {

namespace {

thread_local unsigned long tLastError = 0;

// IOCTL_HID_SET_FEATURE, spelt out: its header is not in every SDK.
constexpr DWORD kIoctlHidSetFeature = CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_IN_DIRECT, FILE_ANY_ACCESS);
static_assert(kIoctlHidSetFeature == 0x000B0191);
// A device answers a feature report in milliseconds; one that does not within this is stuck.

// The report lengths the interface declares, report id byte included; false when unknown.
bool reportLengths(HANDLE file, HidReportLengths& lengths) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    const platform::HidFunctions& hid = platform::hidFunctions();
    if (!hid.getPreparsedData(file, &preparsed)) return false;
    HIDP_CAPS caps{};
    const bool known = hid.getCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    hid.freePreparsedData(preparsed);
    lengths = {caps.InputReportByteLength, caps.FeatureReportByteLength};
    return known;
}

// Says once per interface what kept it from use: discovery runs again on every reconnect.
template <typename Say>
void sayOnce(const wchar_t* path, wchar_t why, Say say) {
    static std::mutex lock;
    static std::set<std::wstring> said;
    std::lock_guard<std::mutex> guard(lock);
    if (said.insert(std::wstring(1, why) + path).second) say();
}

// Reads the ids and report lengths through a handle without access rights, which a program
// holding the interface without sharing it does not block, and opens only the interface that
// matches, for overlapped reads and writes. Its input report length is `inputLength`.
HANDLE openIfMatching(const wchar_t* path, uint16_t vendorId, uint16_t productId, DWORD& inputLength) {
    HANDLE query =
        CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (query == INVALID_HANDLE_VALUE) return nullptr;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    const bool matches = platform::hidFunctions().getAttributes(query, &attributes) &&
                         attributes.VendorID == vendorId && attributes.ProductID == productId;
    HidReportLengths lengths;
    const bool fits = matches && reportLengths(query, lengths) && reportLengthsFit(lengths);
    CloseHandle(query);
    if (!matches) return nullptr;
    if (!fits) {
        sayOnce(path, L'r', [&] { printRefusedInterface(lengths); });
        return nullptr;
    }
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const unsigned long error = GetLastError();
        sayOnce(path, L'o', [&] { platform::printLine(lines::kMcuInterfaceNotOpened, error); });
        return nullptr;
    }
    inputLength = lengths.input;
    return file;
}

class Win32HidTransport final : public HidTransport {
  public:
    std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) override {
        std::vector<HidHandle> kept;
        if (!platform::hidFunctions().complete()) return kept;  // no HID class library
        GUID hidGuid{};
        platform::hidFunctions().getHidGuid(&hidGuid);
        HDEVINFO set =
            SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return kept;

        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA itf{};
            itf.cbSize = sizeof(itf);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &itf)) break;

            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &itf, nullptr, 0, &required, nullptr);
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
            // Zeroed, and aligned for the detail record that is written into it.
            std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(set, &itf, detail, required, nullptr, nullptr)) continue;

            DWORD inputLength = 0;
            if (HANDLE file = openIfMatching(detail->DevicePath, vendorId, productId, inputLength)) {
                kept.push_back(file);
                std::lock_guard<std::mutex> guard(lengthsLock_);
                inputLengths_[file] = inputLength;
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return kept;
    }

    // With an OVERLAPPED and event of its own: the handle is overlapped and the reader
    // almost always has a read pending on it, and a call without one (HidD_SetFeature) may
    // then return early with a wrong status. The result is the device's answer, or false
    // after the time-out (the request cancelled).
    using HidTransport::setFeature;
    bool setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t timeoutMs) override {
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (done == nullptr) {
            tLastError = GetLastError();
            return false;
        }
        OVERLAPPED ov{};
        ov.hEvent = done;
        DWORD bytes = 0;
        // The class driver takes the report from the request's input buffer, on Windows as
        // under Wine. The same bytes also go as the direct (output) buffer, which a set-feature
        // request only reads: harmless, and kept.
        std::vector<uint8_t> buffer(report, report + size);
        BOOL ok = DeviceIoControl(handle, kIoctlHidSetFeature, buffer.data(), static_cast<DWORD>(size),
                                  buffer.data(), static_cast<DWORD>(size), &bytes, &ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(done, timeoutMs) != WAIT_OBJECT_0) CancelIoEx(handle, &ov);
            // Waits for the request to end either way: the OVERLAPPED lives on this stack.
            ok = GetOverlappedResult(handle, &ov, &bytes, TRUE);
        }
        if (!ok) tLastError = GetLastError();
        CloseHandle(done);
        return ok != FALSE;
    }

    int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                   void* stopEvent) override {
        if (stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return aborted();
        OVERLAPPED ov{};
        ov.hEvent = event;
        ResetEvent(event);
        DWORD bytes = 0;
        if (ReadFile(handle, buffer, readLength(handle, size), &bytes, &ov)) return static_cast<int>(bytes);
        if (GetLastError() != ERROR_IO_PENDING) return fail();

        const HANDLE waits[2] = {event, stopEvent};
        const DWORD waited = WaitForMultipleObjects(stopEvent != nullptr ? 2 : 1, waits, FALSE, timeoutMs);
        if (waited == WAIT_TIMEOUT || waited == WAIT_OBJECT_0 + 1) {
            CancelIoEx(handle, &ov);
            // The read may have completed just before the cancel took hold: keep its report.
            if (GetOverlappedResult(handle, &ov, &bytes, TRUE)) return static_cast<int>(bytes);
            // Cancelled: a timeout, or the stop. Anything else (a device that vanished meanwhile
            // fails with ERROR_ACCESS_DENIED under Wine, ERROR_DEVICE_NOT_CONNECTED on Windows)
            // is an error.
            if (GetLastError() == ERROR_OPERATION_ABORTED) return waited == WAIT_TIMEOUT ? 0 : aborted();
            return fail();
        }
        if (waited != WAIT_OBJECT_0) {
            // The read must not outlive its OVERLAPPED record on this stack.
            const unsigned long error = GetLastError();
            CancelIoEx(handle, &ov);
            GetOverlappedResult(handle, &ov, &bytes, TRUE);
            tLastError = error;
            return -1;
        }
        if (!GetOverlappedResult(handle, &ov, &bytes, FALSE)) return fail();
        return static_cast<int>(bytes);
    }

    void cancelIo(HidHandle handle) override { CancelIoEx(handle, nullptr); }
    void close(HidHandle handle) override {
        {
            std::lock_guard<std::mutex> guard(lengthsLock_);
            inputLengths_.erase(handle);
        }
        CloseHandle(handle);
    }
    unsigned long lastError() const override { return tLastError; }

  private:
    static int fail() {
        tLastError = GetLastError();
        return -1;
    }
    static int aborted() {
        tLastError = ERROR_OPERATION_ABORTED;
        return -1;
    }
    // A read asks for exactly the interface's input report length: the class driver fails a
    // buffer shorter than it, and nothing longer ever comes.
    DWORD readLength(HidHandle handle, size_t size) {
        std::lock_guard<std::mutex> guard(lengthsLock_);
        const auto known = inputLengths_.find(handle);
        return static_cast<DWORD>(known != inputLengths_.end() && known->second <= size ? known->second
                                                                                        : size);
    }

    std::mutex lengthsLock_;
    std::map<HANDLE, DWORD> inputLengths_;  // of the handles openInterfaces returned
};

}  // namespace

HidTransport& detail::osHidTransport() {
    static Win32HidTransport system;
    return system;
}

}  // namespace corva
