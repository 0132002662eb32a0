#include "app/run_settings.h"
#include "tests/fuzz/properties.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace corva::fuzz {

namespace {

bool same(const RunSettings& a, const RunSettings& b) {
    return a.doze == b.doze && a.benchmark == b.benchmark && a.cycles == b.cycles &&
           a.activeSeconds == b.activeSeconds && a.holdSeconds == b.holdSeconds &&
           a.runSeconds == b.runSeconds;
}

// A plain decimal count, "+"/"-" and digits only, saturated far beyond the clamp range; false
// for anything else.
bool plainCount(const std::string& text, long long& value) {
    size_t at = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (at == text.size()) return false;
    long long magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), 1LL << 40);
    }
    value = text[0] == '-' ? -magnitude : magnitude;
    return true;
}

// What the C library reads, but decimal only: where it reads hexadecimal, infinity or NaN
// the decimal reading is the "0" before the x, or no number at all.
double decimalSeconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string read(text.c_str(), size_t(end - text.c_str()));
    return read.find_first_of("xXiInN") == std::string::npos ? value : 0.0;
}

const char* checkBenchmark(const std::vector<std::string>& args, const RunSettings& s) {
    FUZZ_REQUIRE(s.cycles >= 1 && s.cycles <= 10);
    FUZZ_REQUIRE(s.activeSeconds >= 0.5 && s.activeSeconds <= 10.0);
    FUZZ_REQUIRE(s.holdSeconds >= 0.5 && s.holdSeconds <= 20.0);
    FUZZ_REQUIRE(s.runSeconds == (s.holdSeconds + s.activeSeconds + 4.0) * s.cycles + 5.0);
    FUZZ_REQUIRE(s.runSeconds >= 10.0 && s.runSeconds <= 345.0);
    if (args.size() < 2) FUZZ_REQUIRE(s.cycles == 3);
    if (args.size() < 3) FUZZ_REQUIRE(s.activeSeconds == 2.0);
    if (args.size() < 4) FUZZ_REQUIRE(s.holdSeconds == 3.0);
    long long count = 0;
    if (args.size() >= 2 && plainCount(args[1], count))  // however large: clamped, never wrapped
        FUZZ_REQUIRE(s.cycles == (count < 1 ? 1 : count > 10 ? 10 : count));
    if (args.size() >= 3) {
        const double active = decimalSeconds(args[2]);
        FUZZ_REQUIRE(s.activeSeconds == ((active >= 0.5 && active <= 10.0) ? active : 2.0));
    }
    if (args.size() >= 4) {
        const double hold = decimalSeconds(args[3]);
        FUZZ_REQUIRE(s.holdSeconds == ((hold >= 0.5 && hold <= 20.0) ? hold : 3.0));
    }
    return nullptr;
}

}  // namespace

// The input is the argument list, arguments separated by NUL bytes.
const char* checkRunSettings(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    for (size_t at = 0; at < size && args.size() < 8;) {
        const void* nul = std::memchr(data + at, 0, size - at);
        const size_t end = nul != nullptr ? size_t(static_cast<const uint8_t*>(nul) - data) : size;
        args.emplace_back(reinterpret_cast<const char*>(data + at), end - at);
        at = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const RunSettings s = parseCommandLine(int(argv.size()), argv.data());
    FUZZ_REQUIRE(same(s, parseCommandLine(int(argv.size()), argv.data())));

    const std::string first = args.empty() ? std::string() : args[0];
    FUZZ_REQUIRE(s.doze == (!args.empty() && first == "doze"));
    FUZZ_REQUIRE(s.benchmark == (!args.empty() && (first == "cycle" || first == "doze")));
    if (s.benchmark) return checkBenchmark(args, s);

    FUZZ_REQUIRE(s.runSeconds > 0.0 && s.runSeconds <= 30.0);
    if (args.empty()) {
        FUZZ_REQUIRE(s.runSeconds == 10.0);
    } else {
        const double asked = decimalSeconds(first);
        FUZZ_REQUIRE(s.runSeconds == ((asked > 0.0 && asked <= 30.0) ? asked : 30.0));
    }
    return nullptr;
}

}  // namespace corva::fuzz
