#include "sim/headset/ground_truth.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <type_traits>

namespace corva::sim {
namespace {

constexpr std::string_view kHeader = "# tessaray-sim ground truth; times in steady-clock nanoseconds";
constexpr HeadsetInput kInputs[] = {HeadsetInput::PanelPower, HeadsetInput::Doze, HeadsetInput::Bypass,
                                    HeadsetInput::Wear, HeadsetInput::McuPowerUp};
// Printed with three decimals: a read-back figure within this of the transitions' own.
constexpr double kLatencyRoundingMs = 0.0006;

// "name=" then a value, then a blank or the end; the cursor moves past it.
template <typename T>
bool field(std::string_view& rest, std::string_view name, T& value) {
    if (!rest.starts_with(name) || rest.size() == name.size() || rest[name.size()] != '=') return false;
    rest.remove_prefix(name.size() + 1);
    const size_t end = std::min(rest.find(' '), rest.size());
    if constexpr (std::is_same_v<T, std::string_view>) {
        value = rest.substr(0, end);
    } else {
        const auto [at, ec] = std::from_chars(rest.data(), rest.data() + end, value);
        if (ec != std::errc() || at != rest.data() + end) return false;
    }
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    return true;
}

bool parseTransition(std::string_view rest, DisplaysTransition& t) {
    int on = -1;
    std::string_view cause;
    if (!field(rest, "on", on) || !field(rest, "cause", cause) || !field(rest, "request_ns", t.requestNs) ||
        !field(rest, "visible_ns", t.visibleNs) || !field(rest, "first_report_ns", t.firstReportNs) ||
        !field(rest, "wake_stamp_ns", t.wakeStampNs) || !rest.empty() || (on != 0 && on != 1))
        return false;
    t.on = on == 1;
    for (HeadsetInput input : kInputs) {
        if (cause != headsetInputName(input)) continue;
        t.cause = input;
        return true;
    }
    return false;
}

bool parsePresent(std::string_view rest, PresentRecord& p) {
    return field(rest, "seq", p.seq) && field(rest, "time_ns", p.timeNs) && field(rest, "status", p.status) &&
           field(rest, "shown_vblank", p.shownAtVblank) && rest.empty();
}

bool parseVblank(std::string_view rest, VblankRecord& v) {
    int fresh = -1;
    const bool ok = field(rest, "index", v.index) && field(rest, "time_ns", v.timeNs) &&
                    field(rest, "present_seq", v.presentSeq) && field(rest, "new", fresh) && rest.empty();
    v.newFrame = fresh == 1;
    return ok && (fresh == 0 || fresh == 1);
}

bool parsePanel(std::string_view rest, PanelTransition& t) {
    int on = -1;
    const bool ok = field(rest, "on", on) && field(rest, "time_ns", t.timeNs) && rest.empty();
    t.on = on == 1;
    return ok && (on == 0 || on == 1);
}

bool parseBypassCommand(std::string_view rest, BypassCommand& c) {
    std::string_view command;
    int accepted = -1;
    int applied = -1;
    const bool ok = field(rest, "cmd", command) && field(rest, "accepted", accepted) &&
                    field(rest, "applied", applied) && field(rest, "time_ns", c.timeNs) && rest.empty();
    c.command = command.size() == 1 ? command[0] : char(0);
    c.accepted = accepted == 1;
    c.applied = applied == 1;
    return ok && (c.command == 'p' || c.command == '[') && (accepted == 0 || accepted == 1) &&
           (applied == 0 || applied == 1);
}

bool parseNumber(std::string_view text, double& value) {
    const auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && at == text.data() + text.size();
}

}  // namespace

std::vector<double> wakeLatenciesMs(const GroundTruth& truth) {
    std::vector<double> ms;
    for (const DisplaysTransition& t : truth.transitions)
        if (t.on && t.wakeStampNs != 0 && t.firstReportNs != 0)
            ms.push_back(double(t.firstReportNs - t.wakeStampNs) / 1e6);
    return ms;
}

std::vector<double> wakeDisplaysOnMs(const GroundTruth& truth) {
    std::vector<double> ms;
    for (const DisplaysTransition& t : truth.transitions)
        if (t.on && t.wakeStampNs != 0 && t.firstReportNs != 0)
            ms.push_back(double(t.visibleNs - t.wakeStampNs) / 1e6);
    return ms;
}

std::string formatGroundTruth(const GroundTruth& truth) {
    std::string text = std::string(kHeader) + "\n";
    char line[256];
    for (const DisplaysTransition& t : truth.transitions) {
        std::snprintf(line, sizeof line,
                      "transition on=%d cause=%s request_ns=%" PRId64 " visible_ns=%" PRId64
                      " first_report_ns=%" PRId64 " wake_stamp_ns=%" PRId64 "\n",
                      t.on ? 1 : 0, headsetInputName(t.cause), t.requestNs, t.visibleNs, t.firstReportNs,
                      t.wakeStampNs);
        text += line;
    }
    // Left on, the bypass keeps the displays lit when the headset is taken off.
    if (truth.bypassAtExit >= 0) {
        std::snprintf(line, sizeof line, "mcu_bypass_at_exit %d\n", truth.bypassAtExit);
        text += line;
    }
    if (truth.answeringAtExit >= 0) {
        std::snprintf(line, sizeof line, "mcu_answering_at_exit %d\n", truth.answeringAtExit);
        text += line;
    }
    for (const BypassCommand& c : truth.bypassCommands) {
        std::snprintf(line, sizeof line,
                      "mcu_bypass_command cmd=%c accepted=%d applied=%d time_ns=%" PRId64 "\n", c.command,
                      c.accepted ? 1 : 0, c.applied ? 1 : 0, c.timeNs);
        text += line;
    }
    // Derived from the transitions, for a reader that wants only these (a script).
    for (double ms : wakeLatenciesMs(truth)) {
        std::snprintf(line, sizeof line, "wake_latency_ms %.3f\n", ms);
        text += line;
    }
    for (const PresentRecord& p : truth.presents) {
        std::snprintf(line, sizeof line,
                      "present seq=%" PRIu64 " time_ns=%" PRId64 " status=%d shown_vblank=%" PRId64 "\n",
                      p.seq, p.timeNs, p.status, p.shownAtVblank);
        text += line;
    }
    for (const VblankRecord& v : truth.vblanks) {
        std::snprintf(line, sizeof line,
                      "vblank index=%" PRIu64 " time_ns=%" PRId64 " present_seq=%" PRIu64 " new=%d\n",
                      v.index, v.timeNs, v.presentSeq, v.newFrame ? 1 : 0);
        text += line;
    }
    for (const PanelTransition& t : truth.panels) {
        std::snprintf(line, sizeof line, "panel on=%d time_ns=%" PRId64 "\n", t.on ? 1 : 0, t.timeNs);
        text += line;
    }
    return text;
}

bool parseGroundTruth(std::string_view text, GroundTruth& truth, std::string& error) {
    truth = {};
    std::vector<double> latencies;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        bool ok = line.empty() || line == kHeader;
        if (line.starts_with("transition ")) {
            DisplaysTransition t;
            ok = parseTransition(line.substr(11), t);
            truth.transitions.push_back(t);
        } else if (line.starts_with("mcu_bypass_at_exit ")) {
            ok = line == "mcu_bypass_at_exit 0" || line == "mcu_bypass_at_exit 1";
            truth.bypassAtExit = line.back() == '1' ? 1 : 0;
        } else if (line.starts_with("mcu_answering_at_exit ")) {
            ok = line == "mcu_answering_at_exit 0" || line == "mcu_answering_at_exit 1";
            truth.answeringAtExit = line.back() == '1' ? 1 : 0;
        } else if (line.starts_with("mcu_bypass_command ")) {
            ok = parseBypassCommand(line.substr(19), truth.bypassCommands.emplace_back());
        } else if (line.starts_with("wake_latency_ms ")) {
            latencies.push_back(0.0);
            ok = parseNumber(line.substr(16), latencies.back());
        } else if (line.starts_with("present ")) {
            ok = parsePresent(line.substr(8), truth.presents.emplace_back());
        } else if (line.starts_with("vblank ")) {
            ok = parseVblank(line.substr(7), truth.vblanks.emplace_back());
        } else if (line.starts_with("panel ")) {
            ok = parsePanel(line.substr(6), truth.panels.emplace_back());
        }
        if (!ok) {
            error = "line " + std::to_string(number) + ": " + std::string(line);
            return false;
        }
    }
    // The figures written for scripts must be the transitions' own.
    const std::vector<double> derived = wakeLatenciesMs(truth);
    bool agree = derived.size() == latencies.size();
    for (size_t i = 0; agree && i < derived.size(); ++i)
        agree = std::fabs(derived[i] - latencies[i]) <= kLatencyRoundingMs;
    if (!agree) error = "wake_latency_ms lines disagree with the transitions";
    return agree;
}

bool writeGroundTruthFile(const GroundTruth& truth, const std::string& path) {
    std::ofstream file(path, std::ios::trunc);
    file << formatGroundTruth(truth);
    return bool(file.flush());
}

bool readGroundTruthFile(const std::string& path, GroundTruth& truth, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return parseGroundTruth(text, truth, error);
}

}  // namespace corva::sim
