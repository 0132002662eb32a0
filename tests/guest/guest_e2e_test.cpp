// The proximity link over a real HID device: inside the guest (scripts/guest-run), the
// simulated MCU is served through /dev/uhid by tessaray-hidd, and the programs reach it
// through their own transports: tessaray-sim through hidraw, the Windows tessaray.exe
// through Wine's HID stack (SetupAPI, HidD_*, overlapped reads). The simulated driver in
// the program's process tells the daemon's headset about the panels through the panel link
// file. Outside the guest these tests are skipped.
#include "tests/e2e/e2e_checks.h"
#include "tests/support/sample_lines.h"
#include "tests/guest/hid_daemon_process.h"

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <cstdio>

namespace corva::test {
namespace {

enum class Program { SimHidraw, WindowsUnderWine };

std::string programName(Program program) {
    return program == Program::SimHidraw ? "tessaray-sim (hidraw)" : "tessaray.exe (Wine)";
}

std::string windowsBuild() {
    return TESSARAY_ROOT "/build/windows";
}

bool environmentIs(const char* name, const char* value) {
    const char* set = std::getenv(name);
    return set != nullptr && std::string(set) == value;
}

// Skips outside the guest, and the Wine runs when switched off or without a Windows build.
bool skipReason(Program program, std::string& reason) {
    if (!environmentIs("TESSARAY_GUEST", "1")) {
        reason = "runs inside the guest only (scripts/guest-run)";
        return true;
    }
    if (program == Program::WindowsUnderWine && environmentIs("TESSARAY_GUEST_WINE", "0")) {
        reason = "TESSARAY_GUEST_WINE=0: the Wine runs are switched off";
        return true;
    }
    if (program == Program::WindowsUnderWine && !std::filesystem::exists("/usr/lib/wine/wine64")) {
        reason = "Wine is not installed (/usr/lib/wine/wine64)";
        return true;
    }
    if (program == Program::WindowsUnderWine &&
        !std::filesystem::exists(windowsBuild() + "/app/tessaray.exe")) {
        reason = "no Windows build at " + windowsBuild();
        return true;
    }
    return false;
}

// The guest's read-write folder, where the Wine prefix made for it lives.
std::string guestDir() {
    const char* dir = std::getenv("TESSARAY_GUEST_DIR");
    return dir != nullptr && *dir != '\0' ? dir : TESSARAY_ROOT "/build/guest";
}

// Under Wine the display offers one small mode, so that frames stay cheap on the emulated
// CPU (for tessaray-sim on hidraw it made no measurable difference).
constexpr char kSmallMode[] = "mode 1280x640";

std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// Runs the program with the proximity link on the daemon's device.
SimProcessResult runProgram(Program program, const std::vector<std::string>& args,
                            const std::string& panelFile) {
    SimProcessOptions options;
    options.timeoutSeconds = program == Program::SimHidraw ? 150 : 400;
    if (program == Program::SimHidraw) {
        options.args = args;
        options.environment = {"TESSARAY_SIM_HID=hidraw", "TESSARAY_SIM_PANEL_FILE=" + panelFile};
    } else {
        options.program = TESSARAY_ROOT "/scripts/wine-run";
        options.args = {"--build-dir", windowsBuild(), "--prefix",   guestDir() + "/wine-prefix",
                        "--timeout",   "360",          "--scenario", kSmallMode,
                        "--"};
        options.args.insert(options.args.end(), args.begin(), args.end());
        // Wine's programs open it as a Windows path: drive Z: is the root.
        std::string windowsPath = "Z:" + panelFile;
        std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
        options.environment = {"TESSARAY_SIM_PANEL_FILE=" + windowsPath};
    }
    SimProcessResult run = runSim(options);
    run.out = withoutCarriageReturns(run.out);
    run.err = withoutCarriageReturns(run.err);
    return run;
}

// One program run against a freshly plugged-in device with the given scenario.
struct GuestRun {
    SimProcessResult run;
    std::string daemonOutput;
    std::string truthFile;
};

GuestRun runAgainstDevice(Program program, const std::string& scenario,
                          const std::vector<std::string>& args) {
    GuestRun result;
    const std::string panelFile = tempFile("panels.txt");
    result.truthFile = tempFile("truth.txt");
    std::filesystem::remove(panelFile);
    HidDaemonProcess daemon(scenario, panelFile, result.truthFile);
    if (!daemon.waitUntilServing(10.0)) {
        ADD_FAILURE() << "tessaray-hidd did not bring up its device:\n" << daemon.stop();
        return result;
    }
    result.run = runProgram(program, args, panelFile);
    result.daemonOutput = daemon.stop();
    std::filesystem::remove(panelFile);
    return result;
}

class HidDevice : public ::testing::TestWithParam<Program> {
  protected:
    void SetUp() override {
        std::string reason;
        if (skipReason(GetParam(), reason)) GTEST_SKIP() << reason;
    }
};

// Unplugged, replugged, silent, talking again: one message for each loss, one for each
// reconnection, and the telemetry back (worn) at the end.
TEST_P(HidDevice, ProxUpBypassUnplugReplugAndSilence) {
    const GuestRun g =
        runAgainstDevice(GetParam(), "at 1 unplug; at 3 replug; at 8 silence; at 12 talk", {"17"});
    const SimProcessResult& run = g.run;
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const ReadRun r = readRun(run);
    EXPECT_EQ(r.run.proxAtStart, report::ProxState::Worn);
    EXPECT_GE(r.run.distanceAtStart, 1800u);
    EXPECT_LE(r.run.distanceAtStart, 1999u);
    EXPECT_TRUE(inOrder(run.out, {printed(lines::kBypass, lines::kBypassOn), "INIT_DONE", "BENCH_END",
                                  printed(lines::kBypassRestored, lines::kRestoredOk)}));
    EXPECT_TRUE(
        inOrder(run.err, {std::string(lines::kMcuReadFailed.prefix()), printed(lines::kMcuReconnected),
                          printed(lines::kMcuSilent, 3), printed(lines::kMcuReconnected)}));
    EXPECT_EQ(r.count(EventKind::McuReconnected), 2u) << run.err;
    EXPECT_EQ(r.count(EventKind::McuLost), 2u) << run.err;
    // A vanished device: "not connected" on Linux, "access denied" under Wine; silence has no code.
    std::vector<uint32_t> codes;
    for (const report::Failure& f : r.run.failures)
        if (f.kind == report::FailureKind::Mcu && f.status != 0) codes.push_back(f.status);
    ASSERT_EQ(codes.size(), 1u) << run.err;
    EXPECT_TRUE(codes[0] == 1167 || (GetParam() == Program::WindowsUnderWine && codes[0] == 5)) << codes[0];
    // Telemetry resumed: the last status lines see the headset worn again.
    ASSERT_GE(r.run.status.size(), 3u) << run.out;
    EXPECT_EQ(r.run.status.back().prox, report::ProxState::Worn);
    EXPECT_GE(r.run.status.back().distance, 1000u);
    EXPECT_LE(r.run.status.back().distance, 1999u);
    expectCompleteTeardown(r);
}

// The benchmarks: the panels' power (cycle, through the driver in the program's process)
// and the doze (through the MCU) both reach the daemon's headset, whose telemetry shows the
// displays; each printed wake latency is checked against the headset's ground truth (the
// wake request reaching the headset to the first report showing the displays on).
void expectWakesMatchTruth(Program program, const GuestRun& g, const ReadRun& r, size_t wakes) {
    const std::vector<double> printed = r.latencies();
    const std::vector<double> truth = sim::wakeLatenciesMs(takeTruth(g.truthFile));
    ASSERT_EQ(printed.size(), wakes) << g.run.out;
    EXPECT_EQ(r.count(EventKind::WakePhases), wakes) << "a timed wake without its phase line\n" << g.run.out;
    ASSERT_EQ(truth.size(), wakes) << g.daemonOutput;
    for (size_t i = 0; i < wakes; ++i) {
        std::printf("[guest] %s wake %zu: printed %.1f ms, truth %.1f ms\n", programName(program).c_str(), i,
                    printed[i], truth[i]);
        EXPECT_GE(truth[i], 80.0) << "faster than the displays can wake";
        EXPECT_LE(truth[i], 80.0 + 40.0 + 50.0 + 250.0) << "wake time + one report period, emulated CPU";
        // The printed latency also counts the way from the request to the headset.
        EXPECT_GE(printed[i], truth[i] - 0.1) << "wake " << i;
        EXPECT_LE(printed[i], truth[i] + 1500.0) << "wake " << i;
    }
}

TEST_P(HidDevice, CycleWakesFollowThePanels) {
    const GuestRun g = runAgainstDevice(GetParam(), "", {"cycle", "2", "0.5", "0.5"});
    ASSERT_TRUE(g.run.started);
    EXPECT_EQ(g.run.exitCode, 0) << "signal " << g.run.signal << "\n" << g.run.out << g.run.err;
    const ReadRun r = readRun(g.run);
    expectMeasuredCycles(r, 2, kParkSteps);
    for (const report::Failure& f : r.run.failures) EXPECT_NE(f.kind, report::FailureKind::Driver) << f.text;
    EXPECT_EQ(r.dstatChanges(0x000b, 0x0002), 2u) << g.run.out;
    expectCompleteTeardown(r);
    expectWakesMatchTruth(GetParam(), g, r, 2);
}

// The device's telemetry timer as a real microcontroller may run it: restarted by the wake,
// jittering, held for the host's poll, drifting and losing reports on the way.
TEST_P(HidDevice, DozeWakesThroughTheDevice) {
    const GuestRun g =
        runAgainstDevice(GetParam(), "mcu-restart wake; mcu-jitter 1; mcu-poll 4; mcu-drift 200; mcu-lose 5",
                         {"doze", "2", "0.5", "0.5"});
    ASSERT_TRUE(g.run.started);
    EXPECT_EQ(g.run.exitCode, 0) << "signal " << g.run.signal << "\n" << g.run.out << g.run.err;
    const ReadRun r = readRun(g.run);
    expectMeasuredCycles(r, 2, kDozeSteps);
    EXPECT_EQ(r.dstatChanges(0x000b, 0x0002), 2u) << g.run.out;
    EXPECT_EQ(r.count(EventKind::PanelsOff), 0u);
    expectCompleteTeardown(r);
    expectWakesMatchTruth(GetParam(), g, r, 2);
}

// The Windows transport on its own (tessaray-tests.exe under Wine, Win32HidDevice.*):
// commands sent while the reader's read is pending each get the device's own answer.
TEST_P(HidDevice, WindowsFeatureReportsBesideAPendingRead) {
    if (GetParam() != Program::WindowsUnderWine) GTEST_SKIP() << "a case of the Windows transport";
    const std::string testsExe = windowsBuild() + "/tests/tessaray-tests.exe";
    if (!std::filesystem::exists(testsExe)) GTEST_SKIP() << "no " << testsExe;
    const std::string panelFile = tempFile("panels.txt");
    HidDaemonProcess daemon("", panelFile, tempFile("truth.txt"));
    ASSERT_TRUE(daemon.waitUntilServing(10.0)) << daemon.stop();
    SimProcessOptions options;
    options.timeoutSeconds = 400;
    options.program = TESSARAY_ROOT "/scripts/wine-run";
    options.args = {"--build-dir", windowsBuild(), "--prefix", guestDir() + "/wine-prefix",
                    "--timeout",   "360",          "--driver", "none",
                    "--exe",       testsExe,       "--",       "--gtest_filter=Win32HidDevice.*"};
    const SimProcessResult run = runSim(options);
    const std::string daemonOutput = daemon.stop();
    std::printf("[guest] %s", withoutCarriageReturns(run.out).c_str());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err << daemonOutput;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("SKIPPED"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Guest, HidDevice, ::testing::Values(Program::SimHidraw, Program::WindowsUnderWine),
                         [](const ::testing::TestParamInfo<Program>& info) {
                             return info.param == Program::SimHidraw ? std::string("SimHidraw")
                                                                     : std::string("WindowsUnderWine");
                         });

}  // namespace
}  // namespace corva::test
