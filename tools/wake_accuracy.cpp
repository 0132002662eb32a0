// How close the printed displays-on interval comes to the simulated headset's ground truth:
// reads benchmark logs (through tessaray-report's reader) with the truth file written beside
// each (LOG with its extension replaced by ".truth"), and prints one table, per scenario,
// mode and telemetry interval: the timed wakes, how often the true displays-on time lay
// inside the printed WAKE_PHASES interval (a wake printed with "-" counts as a miss), the
// interval's width and its midpoint's error, and how many intervals are no wider than the
// telemetry interval plus the firmware's own uncertainty that the scenario names (its
// jitter bound and poll period) plus 0.5 ms. That target counts nothing for a restarted
// timer or a lost report next to the edge (each may cost an interval); the truth file does
// not say which reports were lost. scripts/wake-latency-accuracy makes the runs.
//   wake-accuracy [--scenario NAME] LOG... [--scenario NAME] LOG...
#include <algorithm>
#include <cmath>
#include <tuple>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report/log_parser.h"
#include "report/stats.h"
#include "sim/headset/ground_truth.h"
#include "sim/headset/scenario.h"

namespace {

using corva::report::Cycle;
using corva::report::LoggedRun;

struct Errors {
    std::vector<double> midpoint;  // interval midpoint - true displays-on
    std::vector<double> width;
    size_t wakes = 0;  // timed
    size_t inside = 0;
    size_t withinTarget = 0;
    size_t runsSkipped = 0;
};

// The firmware's own uncertainty that a scenario names: its jitter bound and poll period (a
// scenario that does not parse, such as "default", names none).
double firmwareUncertaintyMs(const std::string& scenario) {
    const corva::sim::ScenarioParse parse = corva::sim::parseScenario(scenario);
    if (!parse.ok) return 0.0;
    return parse.scenario.firmware.jitterMs + double(parse.scenario.firmware.pollMs);
}

using corva::report::quantileSorted;

std::vector<double> sorted(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string truthPathFor(const std::string& log) {
    const size_t dot = log.rfind('.');
    const size_t slash = log.rfind('/');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? log.substr(0, dot) : log) + ".truth";
}

// Pairs the run's wakes (those the program timed or discarded), in order, with the truth's;
// false when they do not pair up. Only the timed ones count.
bool addRun(const LoggedRun& run, const std::vector<double>& truthOn, double targetMs, Errors& errors) {
    std::vector<const Cycle*> wakes;
    for (const Cycle& c : run.cycles)
        if (c.wakeLatencyMs >= 0.0 || c.latencyDiscarded) wakes.push_back(&c);
    if (wakes.size() != truthOn.size()) return false;
    for (size_t i = 0; i < wakes.size(); ++i) {
        const Cycle& c = *wakes[i];
        if (c.wakeLatencyMs < 0.0) continue;
        ++errors.wakes;
        if (!c.phases.interval) continue;
        errors.midpoint.push_back((c.phases.onLoMs + c.phases.onHiMs) / 2.0 - truthOn[i]);
        errors.width.push_back(c.phases.onHiMs - c.phases.onLoMs);
        errors.withinTarget += c.phases.onHiMs - c.phases.onLoMs <= targetMs ? 1 : 0;
        if (c.phases.onLoMs <= truthOn[i] && truthOn[i] <= c.phases.onHiMs) ++errors.inside;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: wake-accuracy [--scenario NAME] LOG... (each with its LOG.truth beside it)\n");
        return 1;
    }
    using Key = std::tuple<size_t, std::string, unsigned>;  // (scenario, mode, telemetry ms)
    std::vector<std::string> scenarios{"default"};
    std::map<Key, Errors> groups;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--scenario" && i + 1 < argc) {
            if (scenarios.size() == 1 && groups.empty()) scenarios.clear();
            scenarios.push_back(argv[++i]);
            continue;
        }
        const std::string log = argv[i];
        corva::sim::GroundTruth truth;
        std::string error;
        if (!corva::sim::readGroundTruthFile(truthPathFor(log), truth, error)) {
            std::fprintf(stderr, "%s: ground truth unreadable (%s); skipped\n", log.c_str(), error.c_str());
            continue;
        }
        const std::vector<double> truthOn = corva::sim::wakeDisplaysOnMs(truth);
        const corva::report::ParsedLog parsed = corva::report::parseLog(readFile(log), log);
        if (parsed.runs.size() != 1) {
            std::fprintf(stderr, "%s: %zu runs, expected one; skipped\n", log.c_str(), parsed.runs.size());
            continue;
        }
        const LoggedRun& run = parsed.runs.front();
        Errors& errors = groups[{scenarios.size() - 1, corva::report::modeName(run.mode), run.telemetryMs}];
        const double targetMs = double(run.telemetryMs) + firmwareUncertaintyMs(scenarios.back()) + 0.5;
        if (!addRun(run, truthOn, targetMs, errors)) {
            std::fprintf(stderr, "%s: timed wakes and ground truth do not pair up; skipped\n", log.c_str());
            ++errors.runsSkipped;
        }
    }
    int status = 0;
    std::printf("%-28s %-5s %5s %6s %16s %16s %26s %10s\n", "scenario", "mode", "ms", "wakes", "truth inside",
                "width med/max", "midpoint err p50/p99/max", "in target");
    for (const auto& [key, e] : groups) {
        const std::vector<double> width = sorted(e.width);
        std::vector<double> error = e.midpoint;
        for (double& v : error) v = std::fabs(v);
        error = sorted(error);
        const double share = e.wakes != 0 ? 100.0 * double(e.inside) / double(e.wakes) : 0.0;
        std::printf("%-28s %-5s %5u %6zu %7zu %6.1f %% ",
                    std::get<0>(key) < scenarios.size() ? scenarios[std::get<0>(key)].c_str() : "?",
                    std::get<1>(key).c_str(), std::get<2>(key), e.wakes, e.inside, share);
        if (width.empty())
            std::printf("%16s %26s", "-", "-");
        else
            std::printf("%7.2f / %6.2f %8.2f / %6.2f / %6.2f %8.1f %%", quantileSorted(width, 0.5),
                        width.back(), quantileSorted(error, 0.5), quantileSorted(error, 0.99), error.back(),
                        e.wakes != 0 ? 100.0 * double(e.withinTarget) / double(e.wakes) : 0.0);
        if (e.runsSkipped > 0) std::printf("  (%zu runs skipped)", e.runsSkipped);
        std::printf("\n");
        if (e.inside != e.wakes) status = 2;
    }
    return status;
}
