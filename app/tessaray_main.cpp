#include "app/tessaray_main.h"

#include "app/benchmark.h"
#include "app/condition_lines.h"
#include "app/draw_frame.h"
#include "app/run_settings.h"
#include "app/shared_state.h"
#include "app/status_threads.h"
#include "app/telemetry_setting.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/run_figures.h"
#include "lines/shortened_text.h"
#include "platform/close_prompt.h"
#include "platform/keep_awake.h"
#include "platform/machine_conditions.h"
#include "platform/platform.h"
#include "platform/std_streams.h"
#include "present/nvapi_d3d12_presenter.h"
#include "prox/mcu_prox.h"
#include "trace/trace.h"

#include <cstdlib>
#include <thread>

namespace corva {

namespace {

using run::kExitDisplayLost;
using run::kExitInitFailed;
using run::kExitOk;
// The code of a failed bring-up: nothing ran.
constexpr int kExitAnotherRun = run::kExitInitFailed;

// The restore's '[' and its confirmation (a probe too, when the link has no live handle)
// take at most this long, and after a close, log-off or shut-down at most the time left
// before the teardown's deadline.
constexpr int64_t kRestoreBudgetNs = 2000000000;
// The bypass's confirmation: the '$' comes a few telemetry reports after the rate command,
// at most about a second at the slowest interval and USB poll.
constexpr int64_t kBypassConfirmBudgetNs = 1500000000;

// "ok" only on the microcontroller's own answer to a command sent after the '['; "FAILED" when
// it refused the '['; otherwise (gone, or silent) nobody can tell: "not confirmed".
void restoreBypass(McuProx& link) {
    const RestoreVerdict verdict = link.restoreBypass(platform::steadyNowNs() + kRestoreBudgetNs);
    lines::print(lines::kBypassRestored, verdict == RestoreVerdict::Ok       ? lines::kRestoredOk
                                         : verdict == RestoreVerdict::Failed ? lines::kRestoredFailed
                                                                             : lines::kRestoredNotConfirmed);
}

// What the run's figures rested on, once the threads that measured it have stopped (the
// link's reader too: the restore would stop it first anyway).
void printConditions(const NvapiD3d12Presenter& presenter, McuProx& link, bool proxUp, bool keptAwake) {
    link.stopReader();
    RunConditionInputs inputs;
    inputs.monitorPolls = &MonitorPolls;
    inputs.present = &presenter.conditions();
    inputs.telemetry = proxUp ? &link.telemetryFigures() : nullptr;
    inputs.machine = platform::measureMachine(keptAwake);
    inputs.machine.longestStandstillNs = MonitorPolls.maxNs();
    printRunConditions(inputs);
}

// Everything from the link's set-up to the result line. The presenter and the link are
// destroyed (display and graphics objects released, link closed) when this returns.
int runAndTearDown(const RunSettings& settings, uint16_t telemetryMs, bool keptAwake) {
    McuProx link;
    const bool proxUp = link.open(telemetryMs);
    if (proxUp)
        lines::print(lines::kProxUp, link.worn.load() ? lines::kWorn : lines::kAway,
                     unsigned(link.distance.load()));
    else
        lines::print(lines::kProxUnavailable);
    // Confirmed by the microcontroller's own answer, as the restore is: a silent one takes the
    // report and does nothing.
    const McuProx::BypassAnswer bypass =
        proxUp ? link.switchBypassOn(platform::steadyNowNs() + kBypassConfirmBudgetNs)
               : McuProx::BypassAnswer{};
    const bool bypassOn = bypass.accepted;
    lines::print(lines::kBypass, !bypass.accepted   ? lines::kBypassFailed
                                 : bypass.confirmed ? lines::kBypassOn
                                                    : lines::kBypassNotConfirmed);

    std::thread monitor(dstatMonitorLoop, std::ref(link));

    PresenterConfig config;
    config.width = 5088;
    config.height = 2544;
    config.refreshHz = 75.0;
    config.linkFormat = 22;
    config.wakeStamps = &WakePhaseStamps;
    NvapiD3d12Presenter presenter(config);
    // From here a stop also reaches the presenter directly; one that came earlier is passed on.
    PresenterStop.attach(&presenter.stopRequested);
    if (StopFlag.load()) presenter.requestStop();

    EventMarker(lines::kInitStart);
    if (!presenter.init()) {
        PresenterStop.detach();
        StopFlag.exchange(true);
        monitor.join();
        // Left on, the bypass keeps the displays lit when the headset is taken off,
        // until it is power-cycled: restore it on this path too.
        if (bypassOn) restoreBypass(link);
        link.close();
        return kExitInitFailed;
    }
    EventMarker(lines::kInitDone);

    std::thread statusLine(statusLineLoop, std::ref(presenter), std::ref(link), std::cref(proxUp));
    std::thread benchmark;
    if (settings.benchmark)
        benchmark =
            std::thread(benchmarkLoop, std::cref(proxUp), std::ref(link), settings.cycles,
                        settings.activeSeconds, settings.doze, std::ref(presenter), settings.holdSeconds);

    std::atomic<bool> firstDrawDone{false};
    {
        FrameCallback draw = DrawFrame(firstDrawDone, presenter);
        presenter.run(settings.runSeconds, draw);
    }
    PresenterStop.detach();
    EventMarker(lines::kBenchEnd);
    StopFlag.exchange(true);

    if (benchmark.joinable()) benchmark.join();
    statusLine.join();
    monitor.join();
    printConditions(presenter, link, proxUp, keptAwake);

    if (bypassOn) restoreBypass(link);
    link.close();

    const PresentStats stats = presenter.stats();
    lines::print(lines::kRunResult, stats.frames, stats.presentErrors, stats.freeRunEvents,
                 stats.displayLost ? 1 : 0);
    return stats.displayLost ? kExitDisplayLost : kExitOk;
}  // the presenter, then the link, destroyed here

// A reader of standard output that went away (`| head`) stops the run as Ctrl+C does.
void stopForGoneReader() {
    consoleCtrlHandler(0);
}

// The run itself, once it holds the machine's headset; a second run gets nothing.
int runAlone(int argc, char** argv) {
    // Before the console, the trace file, the timer or the headset is touched.
    const platform::SingleInstance instance;
    if (instance.anotherRuns()) {
        lines::print(lines::kAnotherRunHoldsTheHeadset);
        return kExitAnotherRun;
    }
    platform::switchQuickEditOff();
    int exitCode = kExitOk;
    {
        // Declared first: it outlives every thread that traces (all joined before it ends),
        // and is written out before a held close lets the process end.
        const trace::Session traceSession(trace::pathFromEnvironment());
        // Every line goes out through it from here; stopped (all lines out) before the end.
        lines::OutputThread output;
        const RunSettings settings = parseCommandLine(argc > 0 ? argc - 1 : 0, argv + (argc > 0 ? 1 : 0));
        const platform::StopHandlers stopHandlers = platform::installConsoleHandler(consoleCtrlHandler);
        if (!stopHandlers.consoleHandler)
            lines::print(lines::kConsoleHandlerMissing, stopHandlers.consoleHandlerError);
        if (!stopHandlers.sessionEndWindow)
            lines::print(lines::kSessionEndWindowMissing, stopHandlers.sessionEndWindowError);
        lines::onStandardOutputGone(stopForGoneReader);
        // For the whole run, whichever way it ends: every thread's waits are timed in ms.
        const platform::FineTimerResolution fineTimer;
        // Nor may the PC sleep (nor the displays go off) in the middle of a benchmark.
        const platform::KeepAwake keepAwake;
        const char* telemetryText = std::getenv("TESSARAY_TELEMETRY_MS");
        uint16_t telemetryMs = kDefaultTelemetryMs;
        if (!telemetryIntervalFrom(telemetryText, telemetryMs))
            lines::print(lines::kTelemetryMsRefused, lines::ShortenedText(telemetryText).c_str(),
                         unsigned(kDefaultTelemetryMs));
        exitCode = runAndTearDown(settings, telemetryMs, keepAwake.held());
        output.stop();
        lines::reportLostOutput();
    }
    platform::restoreConsoleModes();
    // The one point, on every path, where a held close, log-off or shut-down lets the system
    // end the process: the last line is out, the display released and the link closed.
    platform::teardownFinished();
    return exitCode;
}

}  // namespace

int tessarayMain(int argc, char** argv) {
    // Before anything is opened: a closed standard descriptor is not handed to a file.
    platform::keepStandardStreams();
    // Before anything loads a library by name: never from the program's own folder.
    const bool searchRestricted = platform::restrictLibrarySearchToSystem();
    const unsigned long searchError = searchRestricted ? 0 : platform::lastSystemError();
    platform::initConsoleOutput();
    if (!searchRestricted) lines::print(lines::kLibrarySearchNotRestricted, searchError);
    const int exitCode = runAlone(argc, argv);
    if (platform::asksForKeyPress(platform::consoleFacts())) {
        lines::print(lines::kPressAKeyToClose);
        platform::waitForKeyPress();
    }
    return exitCode;
}

}  // namespace corva
