#include "tests/e2e/support/chaos_kept.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace corva::test {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool parseCase(std::string_view line, KeptCase& kept) {
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) kept.finding = std::string(trimmed(line.substr(hash + 1)));
    const std::string_view body = trimmed(line.substr(0, hash));
    const size_t bar = body.find('|');
    if (bar == std::string_view::npos && body.find_first_not_of("0123456789") == std::string_view::npos) {
        uint32_t seed = 0;
        const auto [at, ec] = std::from_chars(body.data(), body.data() + body.size(), seed);
        kept.seed = seed;
        return ec == std::errc() && at == body.data() + body.size() && seed > 0;
    }
    kept.args = std::string(trimmed(body.substr(0, bar)));
    if (bar != std::string_view::npos) kept.scenario = std::string(trimmed(body.substr(bar + 1)));
    return !kept.args.empty() && kept.args.find('|') == std::string::npos &&
           kept.scenario.find('|') == std::string::npos;
}

}  // namespace

std::string formatKeptCase(const KeptCase& kept) {
    std::string line = kept.seed ? std::to_string(*kept.seed) : kept.args + " | " + kept.scenario;
    if (!kept.finding.empty()) line += "  # " + kept.finding;
    return line;
}

bool parseKeptCases(std::string_view text, std::vector<KeptCase>& cases, std::string& error) {
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        ++number;
        const std::string_view body = trimmed(line);
        if (body.empty() || body.front() == '#') continue;
        KeptCase kept;
        if (!parseCase(line, kept)) {
            error = "line " + std::to_string(number) +
                    " is neither \"SEED\" nor \"ARGS | SCENARIO\": " + std::string(line);
            return false;
        }
        cases.push_back(std::move(kept));
    }
    return true;
}

bool readKeptCasesFile(const std::string& path, std::vector<KeptCase>& cases, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (parseKeptCases(text.str(), cases, error)) return true;
    error = path + ": " + error;
    return false;
}

}  // namespace corva::test
