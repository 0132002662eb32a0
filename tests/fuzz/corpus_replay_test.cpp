// Replays every stored fuzz input (the seed corpus and the crash inputs found so far)
// through the fuzz targets' property checks, so the regular suite catches regressions.
#include "tests/fuzz/properties.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace corva::fuzz {
namespace {

struct StoredInputs {
    const char* target;  // directory name under corpus/ and crashes/
    PropertyCheck check;
};

void PrintTo(const StoredInputs& inputs, std::ostream* out) {
    *out << inputs.target;
}

class FuzzInputs : public ::testing::TestWithParam<StoredInputs> {};

TEST_P(FuzzInputs, KeepTheirProperties) {
    size_t seeds = 0;
    for (const char* kind : {"corpus", "crashes"}) {
        const std::filesystem::path dir = std::filesystem::path(TESSARAY_FUZZ_DIR) / kind / GetParam().target;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
            const char* broken = GetParam().check(bytes.data(), bytes.size());
            EXPECT_TRUE(broken == nullptr) << entry.path() << ": " << broken;
            seeds += std::string(kind) == "corpus";
        }
    }
    EXPECT_GT(seeds, 0u) << "no seed corpus for " << GetParam().target;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs,
                         ::testing::Values(StoredInputs{"prox_report", checkProxReport},
                                           StoredInputs{"run_settings", checkRunSettings},
                                           StoredInputs{"scenario", checkScenario},
                                           StoredInputs{"report_log", checkReportLog}),
                         [](const auto& info) { return std::string(info.param.target); });

}  // namespace
}  // namespace corva::fuzz
