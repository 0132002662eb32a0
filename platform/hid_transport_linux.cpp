// HID on Linux through the kernel's hidraw nodes. A program may install a device model
// instead (the simulated MCU); without one, the hidraw nodes are the system's devices.
//
// Reads come from hidraw without the report id of a device that has none; they are handed
// on as Windows hands them, with the report id 0 in front. A vanished device reads EIO and
// refuses feature reports with ENODEV: both mean "not connected".
#include "platform/hid_transport.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace corva {

namespace {

thread_local unsigned long tLastError = 0;

unsigned long systemCode(int error) {
    switch (error) {
        case ENODEV:
        case ENXIO:
        case EIO:
        case ESHUTDOWN:
            return hid_error::kDeviceNotConnected;
        case EBADF:
            return hid_error::kInvalidHandle;
        default:
            return hid_error::kGenFailure;
    }
}

// One open hidraw node; cancelIo wakes a blocked read through the eventfd.
struct HidrawHandle {
    int fd = -1;
    int cancelFd = -1;
    std::atomic<uint64_t> cancels{0};
};

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class HidrawTransport final : public HidTransport {
  public:
    std::vector<HidHandle> openInterfaces(uint16_t vendorId, uint16_t productId) override {
        std::vector<int> numbers;
        if (DIR* dir = opendir("/dev")) {
            while (dirent* entry = readdir(dir))
                if (std::strncmp(entry->d_name, "hidraw", 6) == 0 && entry->d_name[6] != '\0')
                    numbers.push_back(std::atoi(entry->d_name + 6));
            closedir(dir);
        }
        std::sort(numbers.begin(), numbers.end());
        std::vector<HidHandle> kept;
        for (int number : numbers) {
            const std::string path = "/dev/hidraw" + std::to_string(number);
            const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            hidraw_devinfo info{};
            if (ioctl(fd, HIDIOCGRAWINFO, &info) == 0 && uint16_t(info.vendor) == vendorId &&
                uint16_t(info.product) == productId) {
                auto* handle = new HidrawHandle;
                handle->fd = fd;
                handle->cancelFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
                kept.push_back(handle);
            } else {
                ::close(fd);
            }
        }
        return kept;
    }

    using HidTransport::setFeature;
    bool setFeature(HidHandle handle, const uint8_t* report, size_t size, uint32_t) override {
        auto* h = static_cast<HidrawHandle*>(handle);
        if (h == nullptr) return fail(EBADF) == 0;
        // The ioctl takes the report id in byte 0, as HidD_SetFeature does.
        std::vector<uint8_t> copy(report, report + size);
        if (ioctl(h->fd, HIDIOCSFEATURE(size), copy.data()) >= 0) return true;
        return fail(errno) == 0;
    }

    // The stop event is not waited on: the platform's events are not descriptors (the
    // simulated programs only), and a stop's cancelIo is seen by the next poll.
    int readReport(HidHandle handle, void*, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                   void*) override {
        auto* h = static_cast<HidrawHandle*>(handle);
        if (h == nullptr || size < 2) return fail(EBADF);
        const uint64_t cancelsAtStart = h->cancels.load();
        const int64_t deadline = nowMs() + timeoutMs;
        for (;;) {
            const ssize_t got = ::read(h->fd, buffer + 1, size - 1);
            if (got > 0) {
                buffer[0] = 0;  // the report id the device does not send
                return int(got) + 1;
            }
            if (got == 0) return fail(EIO);
            if (errno != EAGAIN && errno != EINTR) return fail(errno);
            if (h->cancels.load() != cancelsAtStart) {
                tLastError = hid_error::kOperationAborted;
                return -1;
            }
            const int64_t left = deadline - nowMs();
            if (left <= 0) return 0;
            pollfd fds[2] = {{h->fd, POLLIN, 0}, {h->cancelFd, POLLIN, 0}};
            if (::poll(fds, 2, int(left)) < 0 && errno != EINTR) return fail(errno);
            if (fds[1].revents & POLLIN) {
                uint64_t drained = 0;
                [[maybe_unused]] ssize_t r = ::read(h->cancelFd, &drained, sizeof drained);
            }
        }
    }

    void cancelIo(HidHandle handle) override {
        auto* h = static_cast<HidrawHandle*>(handle);
        if (h == nullptr) return;
        h->cancels.fetch_add(1);
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(h->cancelFd, &one, sizeof one);
    }

    void close(HidHandle handle) override {
        auto* h = static_cast<HidrawHandle*>(handle);
        if (h == nullptr) return;
        ::close(h->fd);
        ::close(h->cancelFd);
        delete h;
    }

    unsigned long lastError() const override { return tLastError; }

  private:
    static int fail(int error) {
        tLastError = systemCode(error);
        return -1;
    }
};

}  // namespace

HidTransport& detail::osHidTransport() {
    static HidrawTransport system;
    return system;
}

}  // namespace corva
