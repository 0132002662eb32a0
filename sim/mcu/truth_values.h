// Reading the simulated headset's ground-truth file: one "key value" line per figure (more
// keys may come; unknown ones are skipped), in the order the headset recorded them.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corva::sim {

// Every value of the lines "KEY value" in the truth text, in order.
inline std::vector<double> truthValues(const std::string& text, const std::string& key) {
    std::vector<double> values;
    std::istringstream in(text);
    const std::string prefix = key + " ";
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) values.push_back(std::stod(line.substr(prefix.size())));
    return values;
}

inline std::string readTruthFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Per benchmark wake, ms from the program's wake-request stamp: to the first telemetry
// report showing the displays on, and to the displays really coming on.
constexpr const char* kTruthWakeLatency = "wake_latency_ms";
constexpr const char* kTruthDisplaysOn = "wake_displays_on_ms";

}  // namespace corva::sim
