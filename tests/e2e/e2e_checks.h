// Checks shared by the end-to-end tests of tessaray-sim.
#pragma once

#include "tests/support/linux/sim_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace corva::test {

// Each text occurs in `out` after the previous one.
inline ::testing::AssertionResult inOrder(const std::string& out, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
        const size_t found = out.find(text, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "'" << text << "' missing after offset " << at << " in:\n"
                                                 << out;
        at = found + text.size();
    }
    return ::testing::AssertionSuccess();
}

// Some line of `text` matches `pattern` as a whole (ECMAScript syntax).
inline ::testing::AssertionResult hasLineMatching(const std::string& text, const std::string& pattern) {
    const std::regex re(pattern);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, re)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no line matches /" << pattern << "/ in:\n" << text;
}

// A run that initialised: exactly one BENCH_END and one result line, the result line last
// but for the restore line before it.
inline void expectCompleteTeardown(const SimProcessResult& run) {
    EXPECT_EQ(countOf(run.out, "BENCH_END "), 1u) << run.out;
    EXPECT_EQ(countOf(run.out, "frames="), 1u) << run.out;
    EXPECT_TRUE(inOrder(run.out, {"INIT_START", "INIT_DONE", "BENCH_END", "frames="}));
    const std::vector<std::string> tail = linesStartingWith(run.out, "frames=");
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(run.out.substr(run.out.size() - tail[0].size() - 1), tail[0] + "\n") << "result line not last";
}

// Milliseconds of the day of the marker line "NAME hh:mm:ss.mmm" (its n-th occurrence).
inline long markerMs(const std::string& out, const std::string& name, size_t n = 0) {
    const std::vector<std::string> lines = linesStartingWith(out, name + " ");
    if (n >= lines.size()) return -1;
    unsigned h = 0, m = 0, s = 0, ms = 0;
    if (std::sscanf(lines[n].c_str() + name.size() + 1, "%u:%u:%u.%u", &h, &m, &s, &ms) != 4) return -1;
    return long(((h * 60 + m) * 60 + s) * 1000 + ms);
}

inline std::vector<double> printedWakeLatencies(const std::string& out) {
    std::vector<double> ms;
    for (const std::string& line : linesStartingWith(out, "WARM_WAKE_LATENCY "))
        ms.push_back(std::stod(line.substr(18)));
    return ms;
}

inline std::vector<double> truthWakeLatencies(const std::string& truthFile) {
    std::ifstream in(truthFile);
    std::vector<double> ms;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("wake_latency_ms ", 0) == 0) ms.push_back(std::stod(line.substr(16)));
    return ms;
}

inline std::string tempFile(const std::string& name) {
    return (::testing::TempDir() + "tessaray-e2e-" + std::to_string(::getpid()) + "-" + name);
}

}  // namespace corva::test
