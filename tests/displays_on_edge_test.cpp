// The displays-on interval under what a real microcontroller's firmware does: synthetic
// send times for each behaviour, read promptly, and the interval must hold the send times
// of the last off report and the first on report wherever in the stream the displays came on.
#include "prox/displays_on_edge_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace corva {
namespace {

constexpr double kStartMs = 1000.0;

struct Firmware {
    const char* what;
    double periodMs;
    double restartAtMs = -1;  // the timer restarts here (a pause or a command): next report one period on
    double pauseMs = 0;       // ... after this long without reports
    double jitterMs = 0;      // each report sent up to this late
    double pollMs = 0;        // each report waits for the host's next poll
    double driftPpm = 0;      // the crystal runs fast
    size_t loseEvery = 0;     // every n-th report is lost
    // What the behaviour leaves open: the jitter, the poll period; a restart or a lost
    // report within four reports of the edge cannot yet be told from a stalled reader, and
    // the bound is projected across it (one interval each, and two lost reports in the window);
    // by arrival, half an interval (the report before the off report bounds it).
    double uncertaintyMs = 0;
    // The reader stalls from this long before the displays come on until 3 intervals after,
    // then reads what came in the meantime at once (the first on report is then bounded by
    // its late arrival: three intervals more, counted in the uncertainty).
    double readerStallMs = 0;
    bool byArrival = false;  // the interval not yet measured
};

// Send times over `ms` of stream, relative to its start.
std::vector<double> sendTimes(const Firmware& f, double ms, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(0.0, f.jitterMs);
    const double period = f.periodMs * (1.0 - f.driftPpm * 1e-6);
    std::vector<double> out;
    double timer = 0.0;
    for (size_t n = 0; timer < ms; ++n, timer += period) {
        if (f.restartAtMs >= 0 && timer > f.restartAtMs && timer - period <= f.restartAtMs)
            timer = f.restartAtMs + f.pauseMs + period;
        if (f.loseEvery != 0 && n % f.loseEvery == f.loseEvery - 1) continue;
        double sent = timer + jitter(random);
        if (f.pollMs > 0) sent = std::ceil(sent / f.pollMs) * f.pollMs;
        out.push_back(sent);
    }
    return out;
}

TEST(DisplaysOnEdge, HoldsTheSendTimesWhateverTheFirmwareDoes) {
    const Firmware cases[] = {
        {"steady grid", 5},
        {"steady grid at 1 ms", 1},
        {"timer restarted by a command", 5, 1093.3, 0, 0, 0, 0, 0, 5.0},
        {"timer restarted after a pause", 5, 1093.3, 120.0, 0, 0, 0, 0, 5.0},
        {"timer restarted at 50 ms", 50, 1071.3, 0, 0, 0, 0, 0, 50.0},
        {"jitter up to 2 ms", 5, -1, 0, 2.0, 0, 0, 0, 2.0},
        {"jitter up to 0.4 ms at 1 ms", 1, -1, 0, 0.4, 0, 0, 0, 0.4},
        {"polled every 8 ms", 5, -1, 0, 0, 8.0, 0, 0, 8.0},
        {"polled every 1 ms frame", 5, -1, 0, 0, 1.0, 0, 0, 1.0},
        {"crystal 200 ppm fast", 50, -1, 0, 0, 0, 200, 0, 0.0},
        {"every 7th report lost", 5, -1, 0, 0, 0, 0, 7, 7.5},
        {"reader stalled across the edge at 1 ms", 1, -1, 0, 0, 0, 0, 0, 2.0, 8.0},
        {"reader stalled across the edge, jitter", 5, -1, 0, 1.0, 0, 0, 0, 12.5, 40.0},
        {"reader stalled across the edge, by arrival (the stall itself)", 5, -1, 0, 1.0, 0, 0, 0, 28.0, 40.0,
         true},
        {"steady grid, by arrival", 5, -1, 0, 0, 0, 0, 0, 2.5, 0, true},
    };
    for (const Firmware& f : cases) {
        const std::vector<double> sent = sendTimes(f, 40 * f.periodMs + 1500.0, 7);
        double widest = 0.0;
        // The displays come on somewhere after the grid has been measured, at many phases.
        for (double onMs = 1100.0; onMs < 1100.0 + 3 * f.periodMs; onMs += f.periodMs / 7.3) {
            prox::DisplaysOnEdgeTracker edge;
            edge.setAskedIntervalNs(int64_t(f.periodMs * 1e6));
            if (!f.byArrival) edge.setIntervalNs(int64_t(f.periodMs * 1e6));
            double lastOff = 0.0, firstOn = 0.0;
            int rising = 0;
            for (double s : sent) {
                const bool on = s >= onMs;
                if (!on) lastOff = s;
                if (on && firstOn == 0.0) firstOn = s;
                const double stallEnd = onMs + 3 * f.periodMs;
                const bool stalled = f.readerStallMs > 0 && s >= onMs - f.readerStallMs && s < stallEnd;
                const double arrival = (stalled ? stallEnd : s) + 0.05;
                rising += edge.add(on ? 0x000b : 0x0002, int64_t((kStartMs + arrival) * 1e6)) ? 1 : 0;
                if (on) break;
            }
            ASSERT_EQ(rising, 1) << f.what;
            const double lo = double(edge.edgeLastOffNs()) / 1e6 - kStartMs;
            const double hi = double(edge.edgeFirstOnNs()) / 1e6 - kStartMs;
            EXPECT_LE(lo, lastOff) << f.what << ", displays on at " << onMs;
            EXPECT_GE(hi, firstOn) << f.what << ", displays on at " << onMs;
            widest = std::max(widest, hi - lo - (firstOn - lastOff));
        }
        // Honest first; beyond the time between the two reports (one interval, or the pause, the
        // restart or the lost reports between them) the width allows for the behaviour's own
        // uncertainty, measured from few reports.
        EXPECT_LE(widest, 2 * f.uncertaintyMs + 0.5) << f.what;
    }
}

}  // namespace
}  // namespace corva
