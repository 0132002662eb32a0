// pacing-bench: the real present loop on the simulated headset display, measured against
// the display's own record of what it scanned out when. After an unmeasured warm-up the
// same presenter runs twice in one process, with the just-in-time wait and then without
// it (the baseline), so the two can be compared on one noisy machine; then once more with
// the frame-level trace on, to measure what tracing costs the presenting thread. Figures
// cover the steady state: every frame after the first second of each loop.
//
// Usage: pacing-bench [SECONDS [HZ [WIDTHxHEIGHT]]]   (default: 10 75 5088x2544)
#include "app/draw_frame.h"
#include "nvapi/loader.h"
#include "platform/platform.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "sim/platform/test_hooks.h"
#include "sim/driver/sim_display.h"
#include "sim/driver/sim_driver.h"
#include "tests/support/allocation_counter.h"
#include "tools/pacing_figures.h"
#include "trace/trace.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace corva::bench {
namespace {

constexpr uint32_t kLinkFormat = 22;
constexpr double kWarmUpSeconds = 1.0;

struct BenchSettings {
    double seconds = 10.0;
    uint32_t hz = 75;
    uint32_t width = 5088;
    uint32_t height = 2544;
};

bool parseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

bool parseSettings(int argc, char** argv, BenchSettings& settings) {
    if (argc > 4) return false;
    double value = 0.0;
    if (argc > 1) {
        if (!parseNumber(argv[1], 2.0, 600.0, value)) return false;
        settings.seconds = value;
    }
    if (argc > 2) {
        if (!parseNumber(argv[2], 24.0, 360.0, value) || value != static_cast<uint32_t>(value)) return false;
        settings.hz = static_cast<uint32_t>(value);
    }
    if (argc > 3) {
        // WIDTHxHEIGHT, nothing after it.
        unsigned width = 0, height = 0;
        const char* end = argv[3] + std::strlen(argv[3]);
        const auto [x, widthError] = std::from_chars(argv[3], end, width);
        if (widthError != std::errc() || x == end || *x != 'x') return false;
        const auto [rest, heightError] = std::from_chars(x + 1, end, height);
        if (heightError != std::errc() || rest != end || width < 16 || height < 16 || width > 16384 ||
            height > 16384)
            return false;
        settings.width = width;
        settings.height = height;
    }
    return true;
}

// Per frame: draws the real content and keeps its start, prediction, and the presenting
// thread's CPU time and allocation count, all in storage reserved before the run.
class FrameRecorder {
  public:
    FrameRecorder(PresentBackend& presenter, std::atomic<bool>& firstDrawDone, size_t capacity,
                  uint64_t warmupFrames)
        : draw_(firstDrawDone, presenter), warmupFrames_(warmupFrames) {
        samples.reserve(capacity);
    }

    void record(const FrameContext& frame) {
        const int64_t start = platform::steadyNowNs();
        draw_(frame);
        if (samples.size() < samples.capacity()) samples.push_back({start, frame.displayTimeNs});
        if (frame.frameIndex < warmupFrames_) return;
        const int64_t cpu = platform::threadCpuTimeNs();
        const uint64_t allocations = test::allocationsOnThisThread();
        if (frame.frameIndex == warmupFrames_) {
            cpuAtWarmup_ = cpu;
            allocationsAtWarmup_ = allocations;
        }
        steadyFrames_ = frame.frameIndex - warmupFrames_;
        cpuPerFrameMs =
            steadyFrames_ ? static_cast<double>(cpu - cpuAtWarmup_) / 1e6 / double(steadyFrames_) : 0.0;
        allocationsPerFrame =
            steadyFrames_ ? static_cast<double>(allocations - allocationsAtWarmup_) / double(steadyFrames_)
                          : 0.0;
    }

    std::vector<FrameSample> samples;
    double cpuPerFrameMs = 0.0;
    double allocationsPerFrame = 0.0;

  private:
    DrawFrame draw_;
    const uint64_t warmupFrames_;
    int64_t cpuAtWarmup_ = 0;
    uint64_t allocationsAtWarmup_ = 0;
    uint64_t steadyFrames_ = 0;
};

struct LoopMeasurement {
    PacingFigures figures;
    double cpuPerFrameMs = 0.0;
    double allocationsPerFrame = 0.0;
    double pushNs = 0.0;  // with the trace on: one frame record into the ring
};

LoopMeasurement measureLoop(NvapiD3d12Presenter& presenter, const BenchSettings& settings, bool justInTime,
                            std::atomic<bool>& firstDrawDone) {
    const uint64_t warmupFrames = settings.hz;  // the first second settles the averages
    FrameRecorder recorder(presenter, firstDrawDone,
                           static_cast<size_t>(settings.seconds * settings.hz * 2 + 64), warmupFrames);
    presenter.im->justInTimeWait = justInTime;
    sim::clearTimeline();
    presenter.run(settings.seconds, [&recorder](const FrameContext& frame) { recorder.record(frame); });

    const int64_t periodNs = static_cast<int64_t>(1e9 / settings.hz + 0.5);
    LoopMeasurement measurement;
    measurement.figures = computePacingFigures(recorder.samples, warmupFrames, sim::timeline(), periodNs);
    measurement.cpuPerFrameMs = recorder.cpuPerFrameMs;
    measurement.allocationsPerFrame = recorder.allocationsPerFrame;
    return measurement;
}

double percent(uint64_t part, uint64_t whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0.0;
}

void printFigures(const LoopMeasurement& jit, const LoopMeasurement& base) {
    const PacingFigures& a = jit.figures;
    const PacingFigures& b = base.figures;
    std::printf("\n%-44s %14s %14s\n", "", "just-in-time", "baseline");
    std::printf("%-44s %14llu %14llu\n", "frames presented (steady state)", (unsigned long long)a.frames,
                (unsigned long long)b.frames);
    std::printf("%-44s %14llu %14llu\n", "vertical blanks", (unsigned long long)a.vblanks,
                (unsigned long long)b.vblanks);
    std::printf("%-44s %14llu %14llu\n", "vertical blanks showing a new frame",
                (unsigned long long)a.newFrameVblanks, (unsigned long long)b.newFrameVblanks);
    std::printf("%-44s %14llu %14llu\n", "vertical blanks repeating a frame",
                (unsigned long long)a.repeatVblanks, (unsigned long long)b.repeatVblanks);
    std::printf("%-44s %13.2f%% %13.2f%%\n", "new frame on vertical blank",
                percent(a.newFrameVblanks, a.vblanks), percent(b.newFrameVblanks, b.vblanks));
    std::printf("%-44s %14llu %14llu\n", "frames shown", (unsigned long long)a.shown,
                (unsigned long long)b.shown);
    std::printf("%-44s %8llu/%-5llu %8llu/%-5llu\n", "predicted display time hit (hits/anchored)",
                (unsigned long long)a.hits, (unsigned long long)a.anchored, (unsigned long long)b.hits,
                (unsigned long long)b.anchored);
    std::printf("%-44s %13.2f%% %13.2f%%\n", "predicted display time hit rate", percent(a.hits, a.anchored),
                percent(b.hits, b.anchored));
    std::printf("%-44s %11.2f ms %11.2f ms\n", "frame start to scan-out, mean", a.meanStartToScanOutMs,
                b.meanStartToScanOutMs);
    std::printf("%-44s %11.2f ms %11.2f ms\n", "frame start to scan-out, p99", a.p99StartToScanOutMs,
                b.p99StartToScanOutMs);
    std::printf("%-44s %11.2f ms %11.2f ms\n", "frame start to present (work), mean", a.meanStartToPresentMs,
                b.meanStartToPresentMs);
    std::printf("%-44s %11.2f ms %11.2f ms\n", "frame start to present (work), p99", a.p99StartToPresentMs,
                b.p99StartToPresentMs);
    std::printf("%-44s %11.3f ms %11.3f ms\n", "presenting thread CPU per frame", jit.cpuPerFrameMs,
                base.cpuPerFrameMs);
    std::printf("%-44s %14.3f %14.3f\n", "heap allocations per frame", jit.allocationsPerFrame,
                base.allocationsPerFrame);
}

void printTargets(const LoopMeasurement& jit, const LoopMeasurement& base) {
    const PacingFigures& a = jit.figures;
    const double newFrames = percent(a.newFrameVblanks, a.vblanks);
    const double hitRate = percent(a.hits, a.anchored);
    const double ratio = base.figures.meanStartToScanOutMs > 0
                             ? a.meanStartToScanOutMs / base.figures.meanStartToScanOutMs
                             : 0.0;
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("\ntargets (just-in-time loop)\n");
    std::printf("  new frame on >= 99.5%% of vertical blanks: %.2f%% %s\n", newFrames,
                verdict(newFrames >= 99.5));
    std::printf("  >= 99%% of anchored predictions hit:       %.2f%% %s\n", hitRate,
                verdict(hitRate >= 99.0));
    std::printf("  0 heap allocations per frame:             %.3f %s\n", jit.allocationsPerFrame,
                verdict(jit.allocationsPerFrame == 0.0));
    std::printf("  start to scan-out <= half the baseline's: %.2f of baseline %s\n", ratio,
                verdict(ratio > 0 && ratio <= 0.5));
}

// CPU time of one frame record pushed into the trace's ring: the least of a few bursts of
// 1000, each after the writer has had time to empty the ring.
double framePushNs() {
    trace::FrameTimes frame;
    double best = 1e9;
    for (int burst = 0; burst < 10; ++burst) {
        platform::sleepMs(40);
        const int64_t before = platform::threadCpuTimeNs();
        for (uint64_t i = 0; i < 1000; ++i) {
            frame.index = i;
            trace::frame(frame);
        }
        best = std::min(best, static_cast<double>(platform::threadCpuTimeNs() - before) / 1000.0);
    }
    return best;
}

// The just-in-time loop again, tracing every frame to a temporary file.
LoopMeasurement measureTraced(NvapiD3d12Presenter& presenter, const BenchSettings& settings,
                              std::atomic<bool>& firstDrawDone) {
    const std::string path = (std::filesystem::temp_directory_path() / "pacing-bench.trace").string();
    LoopMeasurement traced;
    {
        const trace::Session session(path.c_str());
        traced = measureLoop(presenter, settings, true, firstDrawDone);
        traced.pushNs = framePushNs();
    }
    std::filesystem::remove(path);
    return traced;
}

void printTraceOverhead(const LoopMeasurement& before, const LoopMeasurement& on,
                        const LoopMeasurement& after) {
    const double offCpu = (before.cpuPerFrameMs + after.cpuPerFrameMs) / 2;
    const double cpuRatio = offCpu > 0 ? on.cpuPerFrameMs / offCpu : 0.0;
    std::printf("\n%-44s %14s %14s %14s\n", "frame-level trace (just-in-time loop)", "off", "on",
                "off again");
    std::printf("%-44s %11.3f ms %11.3f ms %11.3f ms\n", "presenting thread CPU per frame",
                before.cpuPerFrameMs, on.cpuPerFrameMs, after.cpuPerFrameMs);
    std::printf("%-44s %14.3f %14.3f %14.3f\n", "heap allocations per frame", before.allocationsPerFrame,
                on.allocationsPerFrame, after.allocationsPerFrame);
    std::printf("%-44s %13.2f%% %13.2f%% %13.2f%%\n", "new frame on vertical blank",
                percent(before.figures.newFrameVblanks, before.figures.vblanks),
                percent(on.figures.newFrameVblanks, on.figures.vblanks),
                percent(after.figures.newFrameVblanks, after.figures.vblanks));
    std::printf("%-44s %14s %11.0f ns\n", "one frame record into the ring (tight loop)", "", on.pushNs);
    std::printf("  trace CPU per frame within 10%% of off:    %.3f of off (mean of both) %s\n", cpuRatio,
                cpuRatio > 0 && cpuRatio <= 1.10 ? "met" : "MISSED");
}

sim::DisplayConfig headsetOffering(const BenchSettings& settings) {
    sim::DisplayConfig config = sim::defaultHeadset();
    config.modes.insert(config.modes.begin(),
                        sim::makeMode(settings.width, settings.height, settings.hz, 1, kLinkFormat));
    return config;
}

nvapi_loader::DriverLibrary openSimulatedDriver() {
    return {true, sim::queryInterface};
}

int runBench(const BenchSettings& settings) {
    nvapi_loader::installDriverLibrary(openSimulatedDriver);
    sim::resetDisplay(headsetOffering(settings));
    NvapiD3d12Presenter presenter(
        PresenterConfig{settings.width, settings.height, double(settings.hz), kLinkFormat});
    if (!presenter.init()) {
        std::fprintf(stderr, "pacing-bench: the presenter did not come up on the simulated display\n");
        return 3;
    }
    std::printf("pacing-bench: %.1f s per loop at %u Hz, %ux%u surfaces, steady state from frame %u\n",
                settings.seconds, settings.hz, settings.width, settings.height, settings.hz);
    std::atomic<bool> firstDrawDone{false};
    // The first use of each surface costs the CPU renderer some 150 ms; kept out of the
    // measured loops, it would hold the first one's decaying work peak up for seconds.
    std::printf("-- warm-up (not measured)\n");
    presenter.run(kWarmUpSeconds, DrawFrame(firstDrawDone, presenter));
    std::printf("-- just-in-time loop\n");
    const LoopMeasurement jit = measureLoop(presenter, settings, true, firstDrawDone);
    std::printf("-- baseline loop (no just-in-time wait)\n");
    const LoopMeasurement base = measureLoop(presenter, settings, false, firstDrawDone);
    std::printf("-- just-in-time loop with the frame-level trace on\n");
    const LoopMeasurement traced = measureTraced(presenter, settings, firstDrawDone);
    // Off once more after it: on a busy machine the order of the loops alone moves the figures.
    std::printf("-- just-in-time loop, trace off again\n");
    const LoopMeasurement after = measureLoop(presenter, settings, true, firstDrawDone);
    printFigures(jit, base);
    printTargets(jit, base);
    printTraceOverhead(jit, traced, after);
    return 0;
}

}  // namespace
}  // namespace corva::bench

int main(int argc, char** argv) {
    corva::platform::initConsoleOutput();
    corva::bench::BenchSettings settings;
    if (!corva::bench::parseSettings(argc, argv, settings)) {
        std::fprintf(
            stderr,
            "usage: pacing-bench [SECONDS [HZ [WIDTHxHEIGHT]]]\n"
            "  SECONDS per loop, 2 to 600 (default 10); HZ, a whole number from 24 to 360 (default 75);\n"
            "  surface size from 16x16 to 16384x16384 (default 5088x2544)\n");
        return 2;
    }
    return corva::bench::runBench(settings);
}
