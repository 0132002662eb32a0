#include "sim/mcu/uhid_device.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corva::sim {

namespace {

// Vendor page 0xFF00: one 64-byte input report and one 64-byte feature report, no ids.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x02,        //   usage 2
    0x81, 0x02,        //   input (data, variable, absolute)
    0x09, 0x03,        //   usage 3
    0xB1, 0x02,        //   feature (data, variable, absolute)
    0xC0,              // end collection
};

}  // namespace

UhidDevice::~UhidDevice() {
    if (fd_ >= 0) {
        destroy();
        ::close(fd_);
    }
}

bool UhidDevice::open() {
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) error_ = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
    return fd_ >= 0;
}

bool UhidDevice::writeEvent(const void* event, size_t size) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    const ssize_t written = ::write(fd_, event, size);
    if (written == ssize_t(size)) return true;
    error_ = std::string("write to /dev/uhid: ") + (written < 0 ? std::strerror(errno) : "short write");
    return false;
}

bool UhidDevice::create(uint16_t vendorId, uint16_t productId, const std::string& name) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& req = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(req.name), sizeof req.name, "%s", name.c_str());
    // Windows (and Wine) take the interface number from the "/inputN" suffix.
    std::snprintf(reinterpret_cast<char*>(req.phys), sizeof req.phys, "tessaray-sim/input0");
    req.rd_size = sizeof kReportDescriptor;
    std::memcpy(req.rd_data, kReportDescriptor, sizeof kReportDescriptor);
    req.bus = BUS_USB;
    req.vendor = vendorId;
    req.product = productId;
    req.version = 0x0100;
    created_ = writeEvent(&event, sizeof event);
    return created_;
}

bool UhidDevice::destroy() {
    if (!created_) return true;
    uhid_event event{};
    event.type = UHID_DESTROY;
    created_ = false;
    return writeEvent(&event, sizeof event);
}

bool UhidDevice::sendInput(const uint8_t* data, size_t size) {
    if (!created_) return false;
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = uint16_t(std::min<size_t>(size, UHID_DATA_MAX));
    std::memcpy(event.u.input2.data, data, event.u.input2.size);
    return writeEvent(&event, sizeof event);
}

bool UhidDevice::serviceOne(int timeoutMs, const FeatureHandler& onSetFeature) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    uhid_event event{};
    const ssize_t got = ::read(fd_, &event, sizeof event);
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) return true;
        error_ = std::string("read from /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    uhid_event reply{};
    switch (event.type) {
        case UHID_SET_REPORT: {
            const uhid_set_report_req& req = event.u.set_report;
            const bool ok = req.rtype == UHID_FEATURE_REPORT &&
                            onSetFeature(req.rnum, req.data, std::min<size_t>(req.size, UHID_DATA_MAX));
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = req.id;
            reply.u.set_report_reply.err = ok ? 0 : EIO;
            return writeEvent(&reply, sizeof reply);
        }
        case UHID_GET_REPORT:
            // The MCU answers through input reports only.
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            return writeEvent(&reply, sizeof reply);
        default:  // start, stop, open, close, output: nothing to do
            return true;
    }
}

}  // namespace corva::sim
