// The real Windows tessaray.exe under Wine, with the simulated driver as nvapi64.dll
// (ctest label "wine"): scripts/wine-run runs it, these are the same checks as for
// tessaray-sim. Without the Windows build or Wine the tests are skipped. The Windows
// program finds no microcontroller here; scenario times count from the driver's first use.
#include "sim/driver/call_log.h"
#include "tests/support/sample_lines.h"
#include "tests/e2e/e2e_checks.h"
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "tests/e2e/trace_checks.h"
#include "tests/support/linux/wine_process.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace corva::test {
namespace {

const std::string kDriverRefused = "Presenter: NvAPI_Initialize() = 0xfffffffe (line 171)\n";

class WineE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string reason = wineSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
    }
    static SimProcessResult run(const WineRunOptions& options, const WineRunExtras& extras = {}) {
        SimProcessResult result = runWine(options, extras);
        EXPECT_TRUE(result.started) << result.err;
        EXPECT_EQ(countOf(result.out, "Unhandled exception"), 0u) << result.out;  // Wine's debugger
        return result;
    }
};

// The driver library is loaded from the system directory only: none there, or only a copy
// beside the program, and initialisation fails.
TEST_F(WineE2e, WithoutADriverInTheSystemDirectoryInitialisationFails) {
    for (const char* driver : {"none", "beside"}) {
        const SimProcessResult r = run({{"2"}, "", driver});
        EXPECT_EQ(r.exitCode, run::kExitInitFailed) << driver << "\n" << r.err;
        EXPECT_NE(r.err.find(kDriverRefused), std::string::npos) << r.err;
        const ReadRun read = readRun(r);
        EXPECT_EQ(read.count(EventKind::InitStart), 1u);
        EXPECT_EQ(read.run.end, report::RunEnd::InitFailed);
        EXPECT_EQ(read.count(EventKind::InitDone), 0u);
        EXPECT_EQ(read.count(EventKind::BenchEnd), 0u);
    }
}

// A first start on a fresh settings store pins the profile and says so; the second start
// (a park/wake benchmark) has nothing to pin.
TEST_F(WineE2e, PlainRunOnAFreshStoreThenAParkCycle) {
    const SimProcessResult plain = run({{"2"}, "", "system", true, {}, true});
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_TRUE(inOrder(plain.out, {printed(lines::kProxUnavailable),
                                    printed(lines::kBypass, lines::kBypassFailed),
                                    "INIT_START ",
                                    std::string(lines::kDriverVersion.prefix()),
                                    printed(lines::kProfilePinned),
                                    printed(lines::kEnableDirectMode, 0x2709u, 0u),
                                    std::string(lines::kDisplayId.prefix()),
                                    "mode[0]: ",
                                    "using mode 5088x2544 @ 75.",
                                    printed(lines::kForcingDsc),
                                    std::string(lines::kAcquire.prefix()),
                                    "surface: 5088x2544 format=",
                                    "rtv format: ",
                                    printed(lines::kSetDisplayMode, 0u),
                                    printed(lines::kPowerOn, 0u),
                                    printed(lines::kWaitable, 0u),
                                    "INIT_DONE ",
                                    "FIRST_DRAW ",
                                    std::string(lines::kPresentResult.prefix()),
                                    "BENCH_END "}));
    // A typed view format the program maps a surface format to.
    const std::vector<std::string> views = printedLines(plain.out, lines::LineId::ViewFormat);
    EXPECT_TRUE(std::any_of(views.begin(), views.end(), [](const std::string& line) {
        int format = 0;
        return lines::scan(lines::kViewFormat, line, format) &&
               std::set<int>{10, 24, 28, 87, 88}.count(format) == 1;
    })) << plain.out;
    const std::vector<std::string> versions = printedLines(plain.out, lines::LineId::DriverVersion);
    unsigned major = 0, minor = 0;
    std::string_view branch;
    ASSERT_EQ(versions.size(), 1u) << plain.out;
    EXPECT_TRUE(lines::scan(lines::kDriverVersion, versions[0], major, minor, branch)) << versions[0];
    EXPECT_GT(major, 0u);
    EXPECT_LT(minor, 100u);
    EXPECT_FALSE(branch.empty());
    const ReadRun p = readRun(plain);
    EXPECT_EQ(std::string(lines::kDriverVersion.prefix()) + p.run.driverVersion, versions[0]);
    expectCompleteTeardown(p);
    // Nothing failed on the way (an acquisition answering -208 is no failure): the only
    // complaints are the missing microcontroller and the power-throttling opt-outs, which
    // Wine refuses.
    ASSERT_EQ(p.run.failures.size(), 2u) << plain.out << plain.err;
    for (const report::Failure& f : p.run.failures) {
        unsigned long both = 0, speed = 0;
        EXPECT_TRUE(f.kind == report::FailureKind::Mcu ||
                    lines::scan(lines::kThrottlingOptOutsRefused, f.text, both, speed))
            << f.text;
    }
    EXPECT_EQ(p.count(EventKind::FreeRunStart), 0u);
    EXPECT_EQ(countOf(plain.err, "driver profile: "), 0u) << plain.err;
    ASSERT_FALSE(p.run.status.empty());
    for (const report::StatusSample& s : p.run.status) {
        EXPECT_EQ(s.prox, report::ProxState::NotAvailable);
        EXPECT_EQ(s.dstat, 0u);
    }
    EXPECT_EQ(p.run.result.presentErrors, 0u);
    EXPECT_EQ(p.run.result.freeRunEvents, 0u);
    EXPECT_FALSE(p.run.result.displayLost);
    // Paced by the simulated vertical blank (75 Hz), not free-running.
    EXPECT_GE(p.run.result.frames, 20u);
    EXPECT_LE(p.run.result.averageFps, 80.0);

    const SimProcessResult cycle = run({{"cycle", "1", "0.5", "0.5"}, ""});
    EXPECT_EQ(cycle.exitCode, 0) << cycle.err;
    EXPECT_EQ(countOf(cycle.out, "driver profile"), 0u) << cycle.out;
    for (const char* complaint : {"driver profile", "Presenter: ", "Present12 = "})
        EXPECT_EQ(countOf(cycle.err, complaint), 0u) << cycle.err;
    EXPECT_TRUE(
        inOrder(cycle.out, {"INIT_DONE ", "CYCLE 1/1\n", "PARK_REQUEST ", printed(lines::kPanelsOff, 0u),
                            "PARK_DONE ", "WAKE_REQUEST ", printed(lines::kPanelsOn, 0u, 0u),
                            std::string(lines::kPresentResult.prefix()), "BENCH_END "}));
    const ReadRun c = readRun(cycle);
    EXPECT_EQ(c.run.result.presentErrors, 0u);
    EXPECT_EQ(c.run.result.freeRunEvents, 0u);
    EXPECT_FALSE(c.run.result.displayLost);
    EXPECT_EQ(c.count(EventKind::PanelsOff), 1u);
    EXPECT_EQ(c.count(EventKind::PanelsOn), 1u);
    expectCompleteTeardown(c);
}

// The vertical blank goes away mid-run and comes back: the loop paces itself meanwhile.
TEST_F(WineE2e, VerticalBlankLostAndRestored) {
    const SimProcessResult r = run({{"4"}, "at 0.5 vblank-lost; at 2.5 vblank-restored"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(inOrder(r.err, {std::string(lines::kFreeRunStart.prefix()) + "\xE2\x80\x94 headset doffed?), "
                                                                             "self-pacing at 75 Hz\n",
                                printed(lines::kFreeRunOver)}));
    EXPECT_EQ(countOf(r.err, "WARNING: present loop free-running"), 1u);
    const ReadRun read = readRun(r);
    EXPECT_EQ(read.run.result.presentErrors, 0u);
    EXPECT_EQ(read.run.result.freeRunEvents, 1u);
    EXPECT_FALSE(read.run.result.displayLost);
    EXPECT_TRUE(
        std::any_of(read.run.status.begin(), read.run.status.end(), [](auto& s) { return s.freeRun; }));
}

// The microcontroller and wearer events have nothing to act on here: named once, ignored.
TEST_F(WineE2e, DeviceRemovedLosesTheDisplay) {
    const SimProcessResult r = run({{"8"}, "at 3 device-removed; at 1 unplug; at 1.5 doff; at 2 unplug"});
    EXPECT_EQ(r.exitCode, run::kExitDisplayLost) << r.err;
    EXPECT_NE(r.err.find(std::string(lines::kDeviceRemoved.prefix()) +
                         "887a0005) \xE2\x80\x94 display lost (cable pulled?), "
                         "exiting present loop\n"),
              std::string::npos)
        << r.err;
    const ReadRun read = readRun(r);
    EXPECT_GT(read.run.result.frames, 0u);
    EXPECT_EQ(read.run.result.presentErrors, 0u);
    EXPECT_EQ(read.run.result.freeRunEvents, 0u);
    EXPECT_TRUE(read.run.result.displayLost);
    EXPECT_EQ(countOf(r.err,
                      "nvapi64.dll (simulated): scenario events not simulated here, ignored: unplug, doff\n"),
              1u)
        << r.err;
    expectCompleteTeardown(read);
}

// A scenario the simulated driver cannot read: it says so and refuses to initialise.
TEST_F(WineE2e, ABadScenarioIsRefused) {
    const SimProcessResult bad = run({{"2"}, "at soon vblank-lost"});
    EXPECT_EQ(bad.exitCode, run::kExitInitFailed);
    EXPECT_NE(bad.err.find("nvapi64.dll (simulated): bad TESSARAY_SIM_SCENARIO: line 1: bad time 'soon'\n"),
              std::string::npos)
        << bad.err;
    EXPECT_NE(bad.err.find("Presenter: NvAPI_Initialize() = 0xffffffff (line 171)\n"), std::string::npos);
    EXPECT_EQ(readRun(bad).run.end, report::RunEnd::InitFailed);
}

// The frame-level trace of the Windows program: the same file, read by the same reader,
// agreeing with the run's console output; its park and wake are there.
TEST_F(WineE2e, AParkCycleWithATrace) {
    const std::string tracePath = tempFile("wine.trace");
    const SimProcessResult r =
        run({{"cycle", "1", "1", "1"}, "", "system", false, {"TESSARAY_TRACE_FILE=Z:" + tracePath}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const trace::TraceFile trace = readTrace(tracePath);
    std::remove(tracePath.c_str());
    expectTraceAgreesWithLog(trace, r.out);
    expectWellFormedTraceJson(trace);
    ASSERT_EQ(trace.panels.size(), 2u);
    EXPECT_FALSE(trace.panels[0].on);
    EXPECT_TRUE(trace.panels[1].on);
    EXPECT_EQ(trace.parked.size(), 1u);
    EXPECT_EQ(trace.wakesSeen.size(), 1u);
    size_t signalled = 0;
    for (const trace::TraceFrame& f : trace.frames) signalled += f.wait == 's';
    EXPECT_GT(signalled, trace.frames.size() / 2) << "paced by the simulated vertical blank";
}

// Log-off and shut-down reach the program as the session-end messages to its hidden window
// (wineboot --end-session sends them): the benchmark stops, and the process is held until
// teardown is over (Wine, like Windows, ends it once WM_ENDSESSION returns), so the result
// line is out and the driver's record ends with the display released.
TEST_F(WineE2e, ASessionEndStopsABenchmarkAndWaitsForTheDisplayToBeReleased) {
    const std::string callLog =
        std::filesystem::temp_directory_path() / ("tessaray-wine-calls-" + std::to_string(getpid()) + ".txt");
    std::filesystem::remove(callLog);
    WineRunExtras extras;
    extras.endSessionAt = 7.0;  // the run needs more than 12 s
    extras.callLog = callLog;
    const SimProcessResult r = run({{"cycle", "3", "2", "2"}, ""}, extras);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The stop reaches the present loop directly: "BENCH_END" (printed once it returns) may
    // come before or after the benchmark thread's own last line.
    EXPECT_TRUE(inOrder(r.out, {"INIT_DONE ", "CYCLE 1/3\n", std::string(lines::kBenchIncomplete.prefix()),
                                "stopped before the cycles were done\n"}));
    EXPECT_TRUE(inOrder(r.out, {"CYCLE 1/3\n", "BENCH_END "}));
    EXPECT_EQ(countOf(r.out, "CYCLE 3/3"), 0u) << r.out;
    expectCompleteTeardown(readRun(r));
    std::vector<sim::CallRecord> calls;
    std::string error;
    ASSERT_TRUE(sim::readCallLogFile(callLog, calls, error)) << error;
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().name, "ReleaseDirectModeDisplay") << "the driver's last call";
    EXPECT_EQ(calls.back().argument("vendorId"), "0x2709");
    EXPECT_EQ(calls.back().status, 0u);
    std::filesystem::remove(callLog);
}

// A standard output whose reader quits ("| head") stops the run as a stop request does: said
// on standard error, the exit code of a stopped run, the display released (the driver's last
// call) and the run's end long before its 30 s (the trace's markers).
TEST_F(WineE2e, AStandardOutputWhoseReaderQuitsStopsTheRun) {
    const std::string tracePath = tempFile("wine-head.trace");
    const std::string callLog = tempFile("wine-head-calls.txt");
    WineRunExtras extras;
    extras.callLog = callLog;
    extras.stdoutHeadLines = 30;  // a few status lines into the run
    const SimProcessResult r =
        run({{"30"}, "", "system", false, {"TESSARAY_TRACE_FILE=Z:" + tracePath}}, extras);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(countOf(r.out, "\n"), 30u);
    EXPECT_EQ(countOf(r.err, lines::kStdoutReaderGone.format()), 1u) << r.err;
    const trace::TraceFile trace = readTrace(tracePath);
    std::remove(tracePath.c_str());
    EXPECT_TRUE(trace.ended);
    int64_t initDone = -1, benchEnd = -1;
    for (const trace::TraceMarker& m : trace.markers) {
        if (m.name == lines::kInitDone) initDone = m.ns;
        if (m.name == lines::kBenchEnd) benchEnd = m.ns;
    }
    ASSERT_GE(initDone, 0);
    ASSERT_GE(benchEnd, 0);
    EXPECT_LT(benchEnd - initDone, int64_t(20e9)) << "the run went on without its reader";
    std::ifstream in(callLog);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    sim::CallRecord call;
    ASSERT_TRUE(sim::parseCall(last, call)) << "the driver's last call: " << last;
    EXPECT_EQ(call.name, "ReleaseDirectModeDisplay");
    EXPECT_EQ(call.argument("vendorId"), "0x2709");
    EXPECT_EQ(call.status, std::optional<uint32_t>(0));
    std::filesystem::remove(callLog);
}

// hid.dll, d3d12.dll, dxgi.dll and winmm.dll beside the program (a downloads folder) are
// never loaded, even with Wine told to prefer such copies: the planted ones would say so and
// fail.
TEST_F(WineE2e, LibrariesPlantedBesideTheProgramAreNotLoaded) {
    WineRunExtras extras;
    for (const char* name : {"hid.dll", "d3d12.dll", "dxgi.dll", "winmm.dll"}) {
        if (!std::filesystem::exists(plantedLibrary(name)))
            GTEST_SKIP() << "not built: " << plantedLibrary(name);
        extras.planted.push_back(plantedLibrary(name));
    }
    const SimProcessResult r = run({{"2"}, ""}, extras);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(countOf(r.err, "PLANTED LIBRARY LOADED"), 0u) << r.err;
    expectCompleteTeardown(readRun(r));
}

// A second tessaray.exe started while one runs (same Wine server, so the same named objects)
// says so in one line and exits with 3 before it touches anything: the driver sees one
// run's calls only, and the first run goes on to its normal end.
TEST_F(WineE2e, ASecondRunExitsWithItsLineAndLeavesTheFirstAlone) {
    const std::string callLog = tempFile("wine-second-calls.txt");
    std::filesystem::remove(callLog);
    SimProcessResult second;
    WineRunExtras extras;
    extras.secondAt = 3.0;  // well inside the first run's 5 s
    extras.callLog = callLog;
    extras.second = &second;
    const SimProcessResult first = run({{"5"}, ""}, extras);
    ASSERT_TRUE(second.started);
    EXPECT_EQ(second.exitCode, run::kExitInitFailed) << second.err;
    EXPECT_EQ(second.err,
              "tessaray: another tessaray is already running on this machine; exiting without touching the "
              "headset\n");
    EXPECT_EQ(second.out, "");

    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(countOf(first.err, "another tessaray"), 0u) << first.err;
    EXPECT_TRUE(inOrder(first.out, {printed(lines::kBypass, lines::kBypassFailed), "INIT_DONE ",
                                    std::string(lines::kPresentResult.prefix()), "BENCH_END "}));
    const ReadRun read = readRun(first);
    EXPECT_EQ(read.run.result.presentErrors, 0u);
    EXPECT_GT(read.run.result.frames, 0u);
    expectCompleteTeardown(read);
    std::ifstream in(callLog);
    std::string line;
    size_t enables = 0, calls = 0;
    while (std::getline(in, line)) {
        ++calls;
        enables += line.rfind("EnableDirectMode(", 0) == 0;
    }
    EXPECT_GT(calls, 0u);
    EXPECT_EQ(enables, 1u) << "the second run reached the driver";
    std::filesystem::remove(callLog);
}

}  // namespace
}  // namespace corva::test
