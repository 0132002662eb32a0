#include "sim/driver/call_log.h"

#include <charconv>
#include <fstream>

namespace corva::sim {

namespace {

constexpr std::string_view kStatusSeparator = " = 0x";
constexpr std::string_view kArgumentSeparator = ", ";

}  // namespace

std::string_view CallRecord::argument(std::string_view key) const {
    if (!arguments) return {};
    std::string_view rest = *arguments;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find(kArgumentSeparator), rest.size());
        const std::string_view pair = rest.substr(0, end);
        if (pair.size() > key.size() && pair.starts_with(key) && pair[key.size()] == '=')
            return pair.substr(key.size() + 1);
        rest.remove_prefix(std::min(rest.size(), end + kArgumentSeparator.size()));
    }
    return {};
}

std::string formatCall(const CallRecord& call) {
    std::string line = call.name;
    if (call.arguments) line += "(" + *call.arguments + ")";
    if (call.status) {
        char hex[16];
        const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, *call.status, 16);
        line += kStatusSeparator;
        line.append(hex, end);
    }
    return line;
}

bool parseCall(std::string_view line, CallRecord& call) {
    call = CallRecord{};
    const size_t statusAt = line.rfind(kStatusSeparator);
    if (statusAt != std::string_view::npos) {
        const std::string_view hex = line.substr(statusAt + kStatusSeparator.size());
        uint32_t status = 0;
        const auto [at, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), status, 16);
        if (hex.empty() || ec != std::errc() || at != hex.data() + hex.size()) return false;
        call.status = status;
        line = line.substr(0, statusAt);
    }
    const size_t open = line.find('(');
    if (open != std::string_view::npos) {
        if (!line.ends_with(')')) return false;
        call.arguments = std::string(line.substr(open + 1, line.size() - open - 2));
        line = line.substr(0, open);
    }
    call.name = std::string(line);
    return !line.empty() && line.find_first_of(" )=") == std::string_view::npos;
}

bool readCallLogFile(const std::string& path, std::vector<CallRecord>& calls, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!parseCall(line, calls.emplace_back())) {
            error = path + ": line " + std::to_string(number) + " is not a driver call: " + line;
            return false;
        }
    }
    return true;
}

}  // namespace corva::sim
