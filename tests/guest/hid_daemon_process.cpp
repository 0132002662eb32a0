#include "tests/guest/hid_daemon_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace corva::test {

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The udev database entry of a hidraw node of the headset's MCU, if there is one.
bool mcuNodeKnownToUdev() {
    std::error_code ec;
    for (const auto& node : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
        if (readFile(node.path() / "device" / "uevent").find("HID_ID=0003:000035BD:00000101") ==
            std::string::npos)
            continue;
        std::string dev = readFile(node.path() / "dev");  // "major:minor\n"
        while (!dev.empty() && dev.back() == '\n') dev.pop_back();
        if (std::filesystem::exists("/run/udev/data/c" + dev)) return true;
    }
    return false;
}

}  // namespace

HidDaemonProcess::HidDaemonProcess(const std::string& scenario, const std::string& panelFile,
                                   const std::string& truthFile) {
    outputFile_ = truthFile + ".daemon-output";
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("TESSARAY_SIM_", 0) != 0) env.push_back(*e);
    env.push_back("TESSARAY_SIM_SCENARIO=" + scenario);
    env.push_back("TESSARAY_SIM_PANEL_FILE=" + panelFile);
    env.push_back("TESSARAY_SIM_TRUTH_FILE=" + truthFile);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = TESSARAY_HIDD_EXE;
    char* argv[] = {exe.data(), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
}

bool HidDaemonProcess::waitUntilServing(double seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) != 0) return false;
        if (mcuNodeKnownToUdev()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string HidDaemonProcess::stop() {
    if (pid_ <= 0) return output_;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    output_ = readFile(outputFile_);
    std::filesystem::remove(outputFile_);
    return output_;
}

}  // namespace corva::test
