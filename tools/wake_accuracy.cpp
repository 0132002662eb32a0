// How close the printed wake figures come to the simulated headset's ground truth: reads
// benchmark logs (through tessaray-report's reader) with the truth file written beside
// each (LOG with its extension replaced by ".truth"), and prints per mode and telemetry
// interval the error of the printed WARM_WAKE_LATENCY and of the WAKE_PHASES displays-on
// midpoint against the true displays-on time, and how often that time lay inside the
// printed interval. scripts/wake-latency-accuracy makes the runs.
//   wake-accuracy LOG...
#include <algorithm>
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

namespace {

using corva::report::Cycle;
using corva::report::LoggedRun;

struct Errors {
    std::vector<double> total;     // WARM_WAKE_LATENCY - true displays-on
    std::vector<double> midpoint;  // interval midpoint - true displays-on
    std::vector<double> width;
    size_t inside = 0;
    size_t runsSkipped = 0;
};

void printDistribution(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty()) return;
    using corva::report::quantileSorted;
    std::printf("    %-28s min %7.2f  median %7.2f  p90 %7.2f  p99 %7.2f  max %7.2f\n", what, values.front(),
                quantileSorted(values, 0.5), quantileSorted(values, 0.9), quantileSorted(values, 0.99),
                values.back());
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
bool addRun(const LoggedRun& run, const std::vector<double>& truthOn, Errors& errors) {
    std::vector<const Cycle*> wakes;
    for (const Cycle& c : run.cycles)
        if (c.wakeLatencyMs >= 0.0 || c.latencyDiscarded) wakes.push_back(&c);
    if (wakes.size() != truthOn.size()) return false;
    for (size_t i = 0; i < wakes.size(); ++i) {
        const Cycle& c = *wakes[i];
        if (c.wakeLatencyMs < 0.0) continue;
        errors.total.push_back(c.wakeLatencyMs - truthOn[i]);
        if (!c.phases.interval) continue;
        errors.midpoint.push_back((c.phases.onLoMs + c.phases.onHiMs) / 2.0 - truthOn[i]);
        errors.width.push_back(c.phases.onHiMs - c.phases.onLoMs);
        if (c.phases.onLoMs <= truthOn[i] && truthOn[i] <= c.phases.onHiMs) ++errors.inside;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wake-accuracy LOG... (each with its LOG.truth beside it)\n");
        return 1;
    }
    std::map<std::pair<std::string, unsigned>, Errors> groups;  // (mode, telemetry ms)
    for (int i = 1; i < argc; ++i) {
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
        Errors& errors = groups[{corva::report::modeName(run.mode), run.telemetryMs}];
        if (!addRun(run, truthOn, errors)) {
            std::fprintf(stderr, "%s: timed wakes and ground truth do not pair up; skipped\n", log.c_str());
            ++errors.runsSkipped;
        }
    }
    int status = 0;
    for (const auto& [key, e] : groups) {
        std::printf("%s, telemetry every %u ms: %zu timed wakes", key.first.c_str(), key.second,
                    e.total.size());
        if (e.runsSkipped > 0) std::printf(" (%zu runs skipped)", e.runsSkipped);
        std::printf("\n");
        printDistribution("printed total - truth (ms)", e.total);
        printDistribution("interval midpoint - truth", e.midpoint);
        printDistribution("interval width", e.width);
        if (!e.midpoint.empty())
            std::printf("    truth inside the interval: %zu of %zu (%.1f %%)\n", e.inside, e.midpoint.size(),
                        100.0 * double(e.inside) / double(e.midpoint.size()));
        if (e.inside != e.midpoint.size()) status = 2;
    }
    return status;
}
