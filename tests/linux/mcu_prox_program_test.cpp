// The proximity lines of the whole program on the simulated headset.
#include "report/log_parser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

namespace {

std::string runProgram(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0;) out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

TEST(McuProxProgram, WornHeadsetIsFoundBypassedAndRestored) {
    const std::filesystem::path store =
        std::filesystem::temp_directory_path() / ("tessaray-prox-store-" + std::to_string(getpid()));
    const std::string out = runProgram("TESSARAY_SIM_DRS_FILE='" + store.string() +
                                       "' timeout 120 '" TESSARAY_SIM_EXE "' 1 2>/dev/null");
    std::filesystem::remove(store);

    const std::regex expected(
        "McuProx: telemetry at 50 ms, threshold 1500 \\+/- 100; firmware 0\\.4 \\(doze capable\\)\n"
        "prox up: worn \\(distance \\d+\\)\n"
        "prox bypass: ON \\('p' sent\\)\n"
        "[^]*prox bypass restored: ok \\('\\[' sent\\)\n");
    ASSERT_TRUE(std::regex_search(out, expected)) << out;
    const corva::report::ParsedLog log = corva::report::parseLog(out);
    ASSERT_EQ(log.runs.size(), 1u);
    EXPECT_EQ(log.unrecognised, 0u);
    EXPECT_GE(log.runs[0].distanceAtStart, 1600u) << "a worn reading";
    EXPECT_EQ(out.find("prox bypass restored"), out.rfind("prox bypass restored")) << "restored once";
}

}  // namespace
