// Measures the HID path to the microcontroller through the system's transport (hidraw on
// Linux, SetupAPI/HID under Windows or Wine): the feature-report round trip and the
// telemetry stream's losses (gaps in the firmware's report sequence, bytes 1-3). Run it
// against the HID daemon's device (tessaray-hidd) inside the guest.
//
//   hid-link-bench [SECONDS]     default 5
#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "prox/prox_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace corva;

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    HidTransport& hid = systemHidTransport();
    std::vector<HidHandle> found = hid.openInterfaces(prox::kVendorId, prox::kProductId);
    if (found.empty()) {
        std::fprintf(stderr, "hid-link-bench: no 35BD:0101 device\n");
        return 1;
    }
    HidHandle device = found.front();
    for (size_t i = 1; i < found.size(); ++i) hid.close(found[i]);
    platform::OsHandle event = platform::createEvent(true, false);

    // Round trip: the call returns once the device has taken the report.
    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
        const prox::CommandReport report =
            prox::commandReport(i % 2 ? prox::kCmdBypassOn : prox::kCmdBypassOff);
        const int64_t t0 = platform::steadyNowNs();
        if (!hid.setFeature(device, report.data(), report.size())) {
            std::fprintf(stderr, "hid-link-bench: feature report refused (err %lu)\n", hid.lastError());
            return 1;
        }
        ms.push_back(double(platform::steadyNowNs() - t0) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("feature round trip: median %.3f ms, p99 %.3f ms, max %.3f ms (%zu reports)\n",
                ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(), ms.size());

    // Telemetry at 50 ms: count the reports and the gaps in their sequence numbers.
    const prox::CommandReport rate = prox::commandReport(prox::kCmdRate, 50);
    hid.setFeature(device, rate.data(), rate.size());
    uint8_t buffer[prox::kReportBytes];
    long received = 0, lost = 0, last = -1;
    const int64_t end = platform::steadyNowNs() + int64_t(seconds * 1e9);
    while (platform::steadyNowNs() < end) {
        const int got = hid.readReport(device, event, buffer, sizeof buffer, 1000);
        if (got < 0) break;
        const prox::Payload payload = prox::normaliseReport(buffer, size_t(got));
        if (payload.tag() != prox::kTelemetryTag || payload.size < 4) continue;
        const long sequence = (long(payload.data[1]) << 16) | (payload.data[2] << 8) | payload.data[3];
        if (last >= 0 && sequence > last + 1) lost += sequence - last - 1;
        last = sequence;
        ++received;
    }
    std::printf("telemetry at 50 ms: %ld reports in %.1f s (%.1f/s), %ld lost\n", received, seconds,
                double(received) / seconds, lost);
    hid.close(device);
    platform::closeHandle(event);
    return 0;
}
