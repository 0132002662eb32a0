// The HID daemon (tessaray-hidd) as a child process of a test inside the guest: started
// with a scenario, a panel link file and a ground-truth file, waited for until its device
// is known to udev, and stopped (which writes the ground truth).
#pragma once

#include <string>
#include <sys/types.h>

namespace corva::test {

class HidDaemonProcess {
  public:
    HidDaemonProcess(const std::string& scenario, const std::string& panelFile, const std::string& truthFile);
    ~HidDaemonProcess() { stop(); }
    HidDaemonProcess(const HidDaemonProcess&) = delete;
    HidDaemonProcess& operator=(const HidDaemonProcess&) = delete;

    // True once a hidraw node of 35BD:0101 exists and udev has recorded it.
    bool waitUntilServing(double seconds) const;
    // SIGTERM, then the exit; the daemon's output. Idempotent.
    std::string stop();

  private:
    pid_t pid_ = -1;
    std::string outputFile_;
    std::string output_;
};

}  // namespace corva::test
