// Parse speed of tessaray-report's log reader: one million lines or more, made of the
// captured logs under tests/report/logs repeated, read several times; prints lines per second.
//   report-parse-bench [LINES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "report/log_parser.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    const size_t wanted = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    std::string sample;
    for (const char* name : {"sim_cycle.log", "sim_doze.log", "sim_doze_unplug.log", "sim_plain_freerun.log",
                             "sim_cycle_nomcu.log", "wine_cycle.log"})
        sample += readFile(std::string(TESSARAY_REPORT_TEST_LOGS) + "/" + name);
    const size_t sampleLines = static_cast<size_t>(std::count(sample.begin(), sample.end(), '\n'));
    if (sampleLines == 0) {
        std::fprintf(stderr, "report-parse-bench: no captured logs found in %s\n", TESSARAY_REPORT_TEST_LOGS);
        return 1;
    }
    std::string text;
    size_t lines = 0;
    while (lines < wanted) {
        text += sample;
        lines += sampleLines;
    }
    double best = 1e9;
    size_t runs = 0;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const corva::report::ParsedLog log = corva::report::parseLog(text, "bench");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        runs = log.runs.size();
        if (log.lines != lines) {
            std::fprintf(stderr, "report-parse-bench: read %zu lines of %zu\n", log.lines, lines);
            return 1;
        }
    }
    std::printf("parsed %zu lines (%.1f MB, %zu runs) in %.3f s: %.2f million lines/s (best of 5)\n", lines,
                static_cast<double>(text.size()) / 1e6, runs, best, static_cast<double>(lines) / best / 1e6);
    return 0;
}
