#include "app/tessaray_main.h"

#include "app/benchmark.h"
#include "app/draw_frame.h"
#include "app/run_settings.h"
#include "app/shared_state.h"
#include "app/status_threads.h"
#include "app/telemetry_setting.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/run_figures.h"
#include "platform/platform.h"
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

// The restore's '[' is confirmed by telemetry that never paused around it: a report at most
// three intervals of 50 ms before it, reports no more than that apart after it, and two of
// those at least half an interval apart (reports already waiting to be read come back to
// back), all within 500 ms. A microcontroller that hung as the command came and talks again
// later shows a pause; so does one read late on a busy machine (then "not confirmed").
constexpr int64_t kMaxReportGapNs = 150000000;
constexpr int64_t kReportSpacingNs = 25000000;
constexpr int64_t kRestoreConfirmNs = 500000000;

bool telemetryThrough(const McuProx& link, int64_t sentNs) {
    int64_t previous = link.lastReportNs();
    if (previous == 0 || sentNs - previous > kMaxReportGapNs) return false;
    int64_t first = 0;
    for (;;) {
        const int64_t last = link.lastReportNs();
        if (last != previous) {
            if (last - previous > kMaxReportGapNs) return false;
            if (first == 0 && last > sentNs) first = last;
            previous = last;
        }
        if (first != 0 && last >= first + kReportSpacingNs) return true;
        const int64_t now = platform::steadyNowNs();
        if (now - previous > kMaxReportGapNs || now - sentNs > kRestoreConfirmNs) return false;
        platform::sleepMs(2);
    }
}

// "ok" only when the microcontroller took the '[' and its telemetry ran on through it; "FAILED" when it
// was there but refused it; otherwise (gone, or silent) nobody can tell: a replugged one
// starts with the bypass off, a silent one may have ignored the command.
void restoreBypass(McuProx& link) {
    const bool gone = link.deviceGone();
    const int64_t sentNs = platform::steadyNowNs();
    const bool sent = link.setBypass(false);
    const bool answering = sent && telemetryThrough(link, sentNs);
    lines::print(lines::kBypassRestored, sent && answering ? lines::kRestoredOk
                                         : !sent && !gone  ? lines::kRestoredFailed
                                                           : lines::kRestoredNotConfirmed);
}

// Everything from the link's set-up to the result line. The presenter and the link are
// destroyed (display and graphics objects released, link closed) when this returns.
int runAndTearDown(const RunSettings& settings, uint16_t telemetryMs) {
    McuProx link;
    const bool proxUp = link.open(telemetryMs);
    if (proxUp)
        lines::print(lines::kProxUp, link.worn.load() ? lines::kWorn : lines::kAway,
                     unsigned(link.distance.load()));
    else
        lines::print(lines::kProxUnavailable);
    const bool bypassOn = proxUp && link.setBypass(true);
    lines::print(lines::kBypass, bypassOn ? lines::kBypassOn : lines::kBypassFailed);

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

    if (bypassOn) restoreBypass(link);
    link.close();

    const PresentStats stats = presenter.stats();
    lines::print(lines::kRunResult, stats.frames, stats.presentErrors, stats.freeRunEvents,
                 stats.displayLost ? 1 : 0);
    return stats.displayLost ? kExitDisplayLost : kExitOk;
}  // the presenter, then the link, destroyed here

}  // namespace

int tessarayMain(int argc, char** argv) {
    // Before anything loads a library by name: never from the program's own folder.
    platform::restrictLibrarySearchToSystem();
    platform::initConsoleOutput();
    platform::switchQuickEditOff();
    int exitCode = kExitOk;
    {
        // Declared first: it outlives every thread that traces (all joined before it ends),
        // and is written out before a held close lets the process end.
        const trace::Session traceSession(trace::pathFromEnvironment());
        // Every line goes out through it from here; stopped (all lines out) before the end.
        lines::OutputThread output;
        const RunSettings settings = parseCommandLine(argc > 0 ? argc - 1 : 0, argv + (argc > 0 ? 1 : 0));
        platform::installConsoleHandler(consoleCtrlHandler);
        // For the whole run, whichever way it ends: every thread's waits are timed in ms.
        const platform::FineTimerResolution fineTimer;
        const char* telemetryText = std::getenv("TESSARAY_TELEMETRY_MS");
        uint16_t telemetryMs = kDefaultTelemetryMs;
        if (!telemetryIntervalFrom(telemetryText, telemetryMs))
            lines::print(lines::kTelemetryMsRefused, telemetryText, unsigned(kDefaultTelemetryMs));
        exitCode = runAndTearDown(settings, telemetryMs);
        output.stop();
    }
    platform::restoreConsoleModes();
    // The one point, on every path, where a held close, log-off or shut-down lets the system
    // end the process: the last line is out, the display released and the link closed.
    platform::teardownFinished();
    return exitCode;
}

}  // namespace corva
