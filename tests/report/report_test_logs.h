// Captured logs of tessaray-sim and of the Windows program under Wine, kept under
// tests/report/logs/ with the simulated headset's ground truth where it was written.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace corva::report::testing {

inline std::string readTestLog(const std::string& name) {
    std::ifstream file(std::string(TESSARAY_REPORT_TEST_LOGS) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace corva::report::testing
