// The proximity lines of the whole program on the simulated headset.
#include "lines/line_classify.h"
#include "lines/line_scan.h"
#include "report/log_parser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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

    // The link's lines, read through their definitions: found, worn, bypassed, then at the end restored.
    std::vector<std::string> link;
    std::istringstream printed(out);
    for (std::string line; std::getline(printed, line);)
        if (const corva::lines::PrintedLine* entry = corva::lines::classify(line).entry;
            entry != nullptr && entry->role == corva::lines::Role::Link)
            link.push_back(line);
    ASSERT_GE(link.size(), 4u) << out;
    unsigned interval = 0, threshold = 0, hysteresis = 0, distance = 0;
    std::string_view firmware, doze, state, bypass, restored;
    EXPECT_TRUE(corva::lines::scan(corva::lines::kMcuTelemetry, link[0], interval, threshold, hysteresis,
                                   firmware, doze));
    EXPECT_EQ(std::vector<unsigned>({interval, threshold, hysteresis}),
              std::vector<unsigned>({50, 1500, 100}));
    EXPECT_EQ(firmware, "0.4");
    EXPECT_EQ(doze, corva::lines::kDozeCapable);
    EXPECT_TRUE(corva::lines::scan(corva::lines::kProxUp, link[1], state, distance));
    EXPECT_EQ(state, corva::lines::kWorn);
    EXPECT_TRUE(corva::lines::scan(corva::lines::kBypass, link[2], bypass));
    EXPECT_EQ(bypass, corva::lines::kBypassOn);
    EXPECT_TRUE(corva::lines::scan(corva::lines::kBypassRestored, link.back(), restored));
    EXPECT_EQ(restored, corva::lines::kRestoredOk);
    const corva::report::ParsedLog log = corva::report::parseLog(out);
    ASSERT_EQ(log.runs.size(), 1u);
    EXPECT_EQ(log.unrecognised, 0u);
    EXPECT_GE(log.runs[0].distanceAtStart, 1600u) << "a worn reading";
    EXPECT_EQ(out.find("prox bypass restored"), out.rfind("prox bypass restored")) << "restored once";
}

}  // namespace
