// Scenario files: only a regular file of bounded size is read (FIFOs and devices as Linux has them).
#include "sim/headset/scenario.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace corva::sim {
namespace {

TEST(Scenario, OnlyARegularFileOfBoundedSizeIsRead) {
    const std::string dir = ::testing::TempDir() + "tessaray-scenario-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string fifo = dir + "/fifo", big = dir + "/big", good = dir + "/good";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(big) << std::string(kMaxScenarioBytes, '#') << "\n";
    std::ofstream(good) << "no-mcu # " << std::string(kMaxScenarioBytes - 10, '#');
    struct Case {
        std::string path, error;
    } cases[] = {
        {dir, "is not a regular file"},
        {fifo, "is not a regular file"},
        {"/dev/zero", "is not a regular file"},
        {big, "is longer than 65536 bytes"},
        {dir + "/missing", "cannot read scenario file"},
    };
    for (const Case& c : cases) {
        const ScenarioParse p = readScenarioFile(c.path);
        EXPECT_FALSE(p.ok) << c.path;
        EXPECT_NE(p.error.find(c.error), std::string::npos) << c.path << " -> " << p.error;
    }
    const ScenarioParse p = readScenarioFile(good);
    EXPECT_TRUE(p.ok && p.scenario.noMcu) << p.error;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corva::sim
