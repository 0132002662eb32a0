// Every line the program prints that a reader of its logs needs, defined once: the print
// sites print these, and tessaray-report reads its logs with the same definitions (their
// prefixes, and lines::scan for their fields).
//
// Adding a line: one entry here, `inline constexpr LineFormat<field types...> kName{stream,
// "text with printf conversions\n"}`, and its print call, `lines::print(lines::kName, ...)`.
// The compiler checks the conversions against the field types. A reader that needs the
// line matches it with `kName.prefix()` or `lines::scan(kName, text, fields...)`.
// Changing a text here changes the program and the reader together; the golden outputs of
// tests/e2e/golden show it (TESSARAY_UPDATE_GOLDEN=1 rewrites them).
#pragma once

#include "lines/line_format.h"

// Local time as every time-stamped line shows it: hours, minutes, seconds, milliseconds.
#define TESSARAY_CLOCK "%02u:%02u:%02u.%03u"
// The em dash of the program's messages, in UTF-8.
#define TESSARAY_EM_DASH "\xE2\x80\x94"

namespace corva::lines {

using Clock4 = unsigned;  // one of the four fields of TESSARAY_CLOCK

// ---- Run control -------------------------------------------------------------------------

// Event markers: "NAME hh:mm:ss.mmm".
inline constexpr LineFormat<const char*, Clock4, Clock4, Clock4, Clock4> kMarker{Stream::Out,
                                                                                 "%s " TESSARAY_CLOCK "\n"};
inline constexpr const char* kInitStart = "INIT_START";
inline constexpr const char* kInitDone = "INIT_DONE";
inline constexpr const char* kFirstDraw = "FIRST_DRAW";
inline constexpr const char* kParkRequest = "PARK_REQUEST";
inline constexpr const char* kParkDone = "PARK_DONE";
inline constexpr const char* kDozeSleepRequest = "DOZE_SLEEP_REQUEST";
inline constexpr const char* kDozeAsleep = "DOZE_ASLEEP";
inline constexpr const char* kWakeRequest = "WAKE_REQUEST";
inline constexpr const char* kBenchEnd = "BENCH_END";

inline constexpr LineFormat<const char*, unsigned> kProxUp{Stream::Out, "prox up: %s (distance %u)\n"};
inline constexpr const char* kWorn = "worn";
inline constexpr const char* kAway = "away";
inline constexpr LineFormat<> kProxUnavailable{Stream::Out, "prox unavailable (non-fatal)\n"};
inline constexpr LineFormat<const char*> kBypass{Stream::Out, "prox bypass: %s\n"};
inline constexpr const char* kBypassOn = "ON ('p' sent)";
inline constexpr const char* kBypassFailed = "FAILED";
inline constexpr LineFormat<const char*> kBypassRestored{Stream::Out, "prox bypass restored: %s\n"};
inline constexpr const char* kRestoredOk = "ok ('[' sent)";
inline constexpr const char* kRestoredFailed =
    "FAILED " TESSARAY_EM_DASH " power-cycle the headset or send '[' to clear";
// The microcontroller was gone, or its telemetry paused around the '[': nobody can tell.
inline constexpr std::string_view kNotConfirmedWord = "not confirmed";
inline constexpr const char* kRestoredNotConfirmed =
    "not confirmed " TESSARAY_EM_DASH
    " the microcontroller is not answering; if the displays stay lit with the headset off, power-cycle the "
    "headset or send '[' to clear";

inline constexpr LineFormat<unsigned long long, unsigned long long, unsigned long long, int> kRunResult{
    Stream::Out, "frames=%llu presentErrors=%llu freeRunEvents=%llu displayLost=%d\n"};

// Status line, about once a second.
inline constexpr LineFormat<Clock4, Clock4, Clock4, Clock4, double, const char*, unsigned, unsigned, int, int,
                            int, const char*>
    kStatus{Stream::Out,
            "  " TESSARAY_CLOCK " fps=%5.1f prox=%s(%u) dstat=0x%04x[disp=%d proxOn=%d dsc=%d]%s\n"};
inline constexpr const char* kProxNotAvailable = "n/a";
inline constexpr const char* kFreeRunSuffix = "  [FREE-RUN: vsync lost]";
inline constexpr std::string_view kFreeRunWord = "FREE-RUN";

inline constexpr LineFormat<unsigned, unsigned, int, int, Clock4, Clock4, Clock4, Clock4> kDstatChange{
    Stream::Out, "DSTAT_CHANGE 0x%04x -> 0x%04x [disp=%d proxOn=%d] " TESSARAY_CLOCK "\n"};
inline constexpr LineFormat<double> kWakeLatency{Stream::Out,
                                                 "WARM_WAKE_LATENCY %.1f ms (WAKE_REQUEST -> DISPLAYS_ON)\n"};
inline constexpr LineFormat<const char*> kWakeLatencyDiscarded{
    Stream::Out, "WAKE_LATENCY_DISCARDED: %s before the displays were seen on\n"};
// After each timed wake's latency: its steps in ms from the request, each "%.1f" or "-",
// and the displays-on interval "LO..HI" (or "-").
inline constexpr LineFormat<const char*, const char*, const char*, const char*, const char*> kWakePhases{
    Stream::Out, "WAKE_PHASES react=%s mode=%s power=%s vblank=%s on=%s ms\n"};
inline constexpr std::string_view kNoPhase = "-";
inline constexpr std::string_view kIntervalDots = "..";
inline constexpr LineFormat<const char*, unsigned> kTelemetryMsRefused{
    Stream::Err,
    "tessaray: TESSARAY_TELEMETRY_MS=%s is not a whole number of ms from 1 to 50; using %u ms\n"};
// Windows only. A second run while one runs on the machine: it exits with 3, touching nothing.
inline constexpr LineFormat<> kAnotherRunHoldsTheHeadset{
    Stream::Err,
    "tessaray: another tessaray is already running on this machine; exiting without touching the headset\n"};
// The system refused to keep library loads to its own directory (the run goes on).
inline constexpr LineFormat<unsigned long> kLibrarySearchNotRestricted{
    Stream::Err, "tessaray: library search not restricted to the system directory (system error %lu)\n"};
// The last line when started from Explorer: its console closes as the program ends.
inline constexpr LineFormat<> kPressAKeyToClose{Stream::Err, "Press any key to close this window.\n"};
inline constexpr const char* kLinkLost = "proximity link lost";
inline constexpr const char* kTelemetryPaused = "proximity telemetry paused";

// Benchmark.
inline constexpr LineFormat<int, int> kCycle{Stream::Out, "CYCLE %d/%d\n"};
inline constexpr LineFormat<int, int, const char*> kCycleAbandoned{
    Stream::Out, "CYCLE_ABANDONED %d/%d: %s; no wake latency for this cycle\n"};
// Once at the start of a benchmark without the proximity link.
inline constexpr LineFormat<const char*> kBenchNote{
    Stream::Out, "BENCH_NOTE: no proximity link: %s; no wake latency is timed\n"};
inline constexpr const char* kNoLinkDoze = "the displays are not dozed (the doze command needs the link)";
inline constexpr const char* kNoLinkCycle = "the panels are parked and woken";
inline constexpr LineFormat<int, int, int, const char*, const char*> kBenchIncomplete{
    Stream::Out, "BENCH_INCOMPLETE: %d of %d cycles completed, %d abandoned%s%s\n"};

// ---- Proximity link ----------------------------------------------------------------------

inline constexpr std::string_view kMcuPrefix = "McuProx: ";
inline constexpr LineFormat<> kMcuNotFound{
    Stream::Err, "McuProx: no 35BD:0101 interface ACKed the rate command (Vantor unplugged?)\n"};
inline constexpr LineFormat<unsigned, unsigned, unsigned, const char*, const char*> kMcuTelemetry{
    Stream::Out, "McuProx: telemetry at %u ms, threshold %u +/- %u; firmware %s (doze %s)\n"};
inline constexpr const char* kFirmwareUnknown = "unknown";
inline constexpr const char* kDozeCapable = "capable";
inline constexpr const char* kDozeUnavailable = "unavailable -> parked fallback";
inline constexpr LineFormat<> kMcuReconnected{Stream::Err,
                                              "McuProx: device reconnected, telemetry restarted\n"};
inline constexpr LineFormat<const char*> kMcuBypassResent{
    Stream::Err, "McuProx: proximity bypass re-sent after reconnect: %s\n"};
inline constexpr const char* kResentOk = "ok ('p' sent)";
inline constexpr LineFormat<double, unsigned> kMcuIntervalOff{
    Stream::Err, "McuProx: telemetry arrives every %.1f ms, not the %u ms asked for\n"};
inline constexpr LineFormat<unsigned, unsigned, unsigned> kMcuInterfaceRefused{
    Stream::Err,
    "McuProx: 35BD:0101 interface refused: input reports of %u bytes, feature reports of %u bytes (the "
    "protocol's are %u)\n"};
inline constexpr LineFormat<unsigned long> kMcuReadFailed{
    Stream::Err, "McuProx: read failed (err %lu) " TESSARAY_EM_DASH " device gone, waiting for reconnect\n"};
inline constexpr LineFormat<int> kMcuSilent{
    Stream::Err, "McuProx: telemetry silent %ds " TESSARAY_EM_DASH " device gone, waiting for reconnect\n"};

// ---- Presenter: bring-up -----------------------------------------------------------------

inline constexpr std::string_view kPresenterPrefix = "Presenter: ";
// A failed driver or graphics call: its text, status and the call site's fixed number.
inline constexpr LineFormat<const char*, unsigned, int> kDriverCallFailed{Stream::Err,
                                                                          "Presenter: %s = 0x%x (line %d)\n"};
inline constexpr LineFormat<const char*, unsigned long, int> kGraphicsCallFailed{
    Stream::Err, "Presenter: %s = 0x%lx (line %d)\n"};

inline constexpr LineFormat<unsigned, unsigned, const char*> kDriverVersion{Stream::Out,
                                                                            "NVIDIA driver %u.%02u (%s)\n"};
inline constexpr LineFormat<> kProfilePinned{
    Stream::Out, "driver profile: power management pinned to max performance (new " TESSARAY_EM_DASH
                 " takes full effect from this or the next launch)\n"};
inline constexpr LineFormat<> kProfileFailed{
    Stream::Err, "driver profile: could not pin max performance " TESSARAY_EM_DASH
                 " if tracking rubber-bands, set Power management mode = Prefer maximum performance for "
                 "tessaray.exe in NVIDIA Control Panel\n"};
inline constexpr LineFormat<unsigned, unsigned> kEnableDirectMode{Stream::Out,
                                                                  "EnableDirectMode(0x%x) = 0x%x\n"};
inline constexpr LineFormat<> kNoDisplay{Stream::Err,
                                         "Presenter: no DirectMode display (Vantor not attached?)\n"};
inline constexpr LineFormat<unsigned> kDisplayId{Stream::Out, "using displayId 0x%x\n"};
inline constexpr LineFormat<unsigned, unsigned, unsigned, double, int> kModeListed{
    Stream::Out, "mode[%u]: %ux%u @ %.3f Hz format=%d\n"};
inline constexpr LineFormat<unsigned, unsigned, double, int> kNoModeMatches{
    Stream::Err, "Presenter: no mode matches %ux%u@%.0f format %d " TESSARAY_EM_DASH
                 " refusing to guess (mode list above)\n"};
inline constexpr LineFormat<unsigned, unsigned, double, unsigned, unsigned, double, int> kModeFallback{
    Stream::Out,
    "Presenter: requested %ux%u@%.0f not offered (headset rate toggle set to the other "
    "refresh?) " TESSARAY_EM_DASH " using %ux%u@%.3f, same link format %d\n"};
inline constexpr LineFormat<unsigned, unsigned, double, int> kUsingMode{
    Stream::Out, "using mode %ux%u @ %.3f Hz format=%d\n"};
inline constexpr LineFormat<> kForcingDsc{Stream::Out, "forcing DSC 1.1, 4 slices, 8 bpp\n"};
inline constexpr LineFormat<> kNormalQueuePriority{
    Stream::Err, "Presenter: HIGH queue priority unavailable, using NORMAL\n"};
inline constexpr LineFormat<unsigned long> kFenceEventNotCreated{
    Stream::Err, "Presenter: fence event not created (system error %lu)\n"};
inline constexpr LineFormat<unsigned, const char*> kAcquire{Stream::Out,
                                                            "AcquireDirectModeDisplay = 0x%x%s\n"};
inline constexpr const char* kHdcpDisabled = " (HDCP disabled, continuing)";
inline constexpr LineFormat<> kAcquireAbandoned{
    Stream::Err, "Presenter: display acquisition abandoned " TESSARAY_EM_DASH " stop requested\n"};
inline constexpr LineFormat<unsigned, unsigned, int> kSurface{Stream::Out, "surface: %ux%u format=%d\n"};
inline constexpr LineFormat<int> kNoTypedView{
    Stream::Err, "Presenter: surface format %d has no typed RTV mapping " TESSARAY_EM_DASH
                 " refusing (would scan out uninitialized VRAM)\n"};
inline constexpr LineFormat<int> kViewFormat{Stream::Out, "rtv format: %d\n"};
inline constexpr LineFormat<unsigned> kSetDisplayMode{Stream::Out, "SetDisplayMode = 0x%x\n"};
inline constexpr LineFormat<unsigned> kPowerOn{Stream::Out, "DisplayControl(POWER_ON) = 0x%x\n"};
inline constexpr LineFormat<unsigned> kWaitable{Stream::Out, "GetPresentWaitableObject = 0x%x\n"};

// ---- Presenter: present loop and power states ----------------------------------------------

inline constexpr LineFormat<unsigned> kPanelsOff{Stream::Out, "Presenter: panels OFF (idle policy) = 0x%x\n"};
inline constexpr LineFormat<unsigned, unsigned> kPanelsOn{
    Stream::Out, "Presenter: panels ON (wake), SetDisplayMode=0x%x POWER_ON=0x%x\n"};
inline constexpr LineFormat<unsigned long> kDeviceRemoved{
    Stream::Err, "Presenter: D3D12 device removed (0x%lx) " TESSARAY_EM_DASH
                 " display lost (cable pulled?), exiting present loop\n"};
inline constexpr LineFormat<> kDeviceRemovedParked{
    Stream::Err,
    "Presenter: device removed while panels off " TESSARAY_EM_DASH " display lost, exiting present loop\n"};
inline constexpr LineFormat<unsigned long long> kWaitableDead{
    Stream::Err,
    "Presenter: present waitable dead for %llus " TESSARAY_EM_DASH " display lost, exiting present loop\n"};
inline constexpr LineFormat<unsigned long> kWaitableWaitFailed{
    Stream::Err, "Presenter: present waitable wait failed (system error %lu) " TESSARAY_EM_DASH
                 " counted as a time-out\n"};
inline constexpr LineFormat<unsigned, unsigned long long> kPresentFailed{Stream::Err,
                                                                         "Present12 = 0x%x at frame %llu\n"};
inline constexpr LineFormat<unsigned long long> kPresentBudgetUsed{
    Stream::Err, "Presenter: %llu presents failed " TESSARAY_EM_DASH
                 " present-error budget used up, exiting present loop\n"};
inline constexpr LineFormat<double> kFreeRunStart{
    Stream::Err, "WARNING: present loop free-running (vsync lost " TESSARAY_EM_DASH
                 " headset doffed?), self-pacing at %.0f Hz\n"};
inline constexpr LineFormat<> kFreeRunOver{Stream::Err, "free-run over: vsync pacing restored\n"};
inline constexpr std::string_view kWarningPrefix = "WARNING: ";
inline constexpr LineFormat<unsigned long long, double, double, unsigned long long, unsigned long long,
                            unsigned long long>
    kPresentResult{
        Stream::Out,
        "PRESENT RESULT: %llu frames in %.1fs = %.2f fps avg, presentErrors %llu, waitTimeouts %llu, "
        "freeRunEvents %llu\n"};
inline constexpr LineFormat<unsigned long long> kPresentNote{
    Stream::Out, "PRESENT NOTE: %llu of these frames failed to present and were not shown\n"};

// ---- Frame trace -------------------------------------------------------------------------

inline constexpr LineFormat<const char*, const char*> kTraceUnwritable{
    Stream::Err, "tessaray: cannot write the trace file '%s' (%s); running without a trace\n"};

// ---- Output itself -------------------------------------------------------------------------

// Lines of the present loop or the proximity reader that found the output queue full
// (the console held output back for long): they are not waited for, only counted.
inline constexpr LineFormat<unsigned long long> kLinesDropped{
    Stream::Err,
    "OUTPUT NOTE: %llu lines of the present loop and the proximity reader dropped " TESSARAY_EM_DASH
    " the console held output back\n"};

}  // namespace corva::lines
