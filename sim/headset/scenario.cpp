#include "sim/headset/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corva::sim {

namespace {

// Later than any run; in nanoseconds still far inside 64 bits, so every time can be scheduled.
constexpr double kMaxEventSeconds = 86400.0;
// Failure counts: enough for any run, small enough that nothing sized by them is large.
constexpr int32_t kMaxCount = 10000;
constexpr size_t kExcerptChars = 24;
constexpr int32_t kMaxModeSide = 16384;

// A word of the scenario as an error message quotes it: short, printable.
std::string quoted(const std::string& word) {
    std::string excerpt = word.substr(0, kExcerptChars);
    for (char& c : excerpt)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return "'" + excerpt + (word.size() > kExcerptChars ? "...'" : "'");
}

bool allOf(const std::string& word, const char* allowed) {
    return !word.empty() && word.find_first_not_of(allowed) == std::string::npos;
}

// Decimal only: "010" is ten, "0x10" is refused.
bool parseInt(const std::string& word, int32_t& out) {
    const bool negative = word.size() > 1 && word[0] == '-';
    if (!allOf(negative ? word.substr(1) : word, "0123456789")) return false;
    errno = 0;
    const long long value = std::strtoll(word.c_str(), nullptr, 10);
    if (errno != 0 || value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<int32_t>(value);
    return true;
}

bool parseCount(const std::string& word, int32_t& out) {
    return word[0] != '-' && parseInt(word, out) && out <= kMaxCount;
}

bool parseSeconds(const std::string& word, double& out) {
    if (!allOf(word, "0123456789.eE+-")) return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return *end == '\0' && std::isfinite(out) && out >= 0.0;
}

// "WIDTHxHEIGHT", each side a decimal from 1 to kMaxModeSide.
bool parseModeSize(const std::string& word, uint32_t& width, uint32_t& height) {
    const size_t x = word.find('x');
    int32_t w = 0, h = 0;
    if (x == std::string::npos || !parseInt(word.substr(0, x), w) || !parseInt(word.substr(x + 1), h))
        return false;
    if (w < 1 || h < 1 || w > kMaxModeSide || h > kMaxModeSide) return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

struct EventName {
    const char* name;
    ScenarioEvent event;
    EventTarget target;
    unsigned explains;
    bool lasting;
};
constexpr EventName kEvents[] = {
    {"doff", ScenarioEvent::Doff, EventTarget::Wearer, kExplainsWearer, false},
    {"don", ScenarioEvent::Don, EventTarget::Wearer, kExplainsWearer, false},
    {"unplug", ScenarioEvent::Unplug, EventTarget::Microcontroller, kExplainsLinkLost, false},
    {"replug", ScenarioEvent::Replug, EventTarget::Microcontroller, kExplainsLinkLost, false},
    {"silence", ScenarioEvent::Silence, EventTarget::Microcontroller, kExplainsLinkLost, false},
    {"talk", ScenarioEvent::Talk, EventTarget::Microcontroller, kExplainsNothing, false},
    {"vblank-lost", ScenarioEvent::VblankLost, EventTarget::Display, kExplainsFreeRun, false},
    {"vblank-restored", ScenarioEvent::VblankRestored, EventTarget::Display, kExplainsNothing, false},
    {"waitable-dead", ScenarioEvent::WaitableDead, EventTarget::Display, kExplainsDisplayLost, true},
    {"device-removed", ScenarioEvent::DeviceRemoved, EventTarget::Display, kExplainsDisplayLost, true},
    {"present-fail", ScenarioEvent::PresentFail, EventTarget::Display, kExplainsPresentFailures, true},
};

constexpr char kCountRange[] = " (0 to 10000)";

// Applies one statement; returns an error text, empty on success.
std::string applyStatement(const std::vector<std::string>& w, Scenario& s) {
    const std::string& verb = w[0];
    auto needArgs = [&](size_t n) { return w.size() == n + 1; };
    if (verb == "no-display" && needArgs(0)) {
        s.noDisplay = true;
    } else if (verb == "no-mcu" && needArgs(0)) {
        s.noMcu = true;
    } else if (verb == "away" && needArgs(0)) {
        s.startsWorn = false;
    } else if (verb == "acquire-fail" && (needArgs(1) || needArgs(2))) {
        if (!parseCount(w[1], s.acquireFailures)) return "bad count " + quoted(w[1]) + kCountRange;
        if (w.size() == 3 && (!parseInt(w[2], s.acquireFailureStatus) || s.acquireFailureStatus == 0))
            return "bad failure status " + quoted(w[2]);
    } else if (verb == "acquire-status" && needArgs(1)) {
        if (!parseInt(w[1], s.acquireStatus)) return "bad status " + quoted(w[1]);
        s.acquireStatusSet = true;
    } else if (verb == "present-fail" && needArgs(1)) {
        if (!parseCount(w[1], s.presentFailures)) return "bad count " + quoted(w[1]) + kCountRange;
    } else if ((verb == "wake-time" || verb == "sleep-time") && needArgs(2)) {
        double lo = 0.0, hi = 0.0;
        if (!parseSeconds(w[1], lo) || !parseSeconds(w[2], hi) || lo > hi || hi > 10000.0)
            return "bad range " + quoted(w[1] + " " + w[2]) + " (milliseconds, MIN <= MAX <= 10000)";
        (verb == "wake-time" ? s.wakeMinMs : s.sleepMinMs) = lo;
        (verb == "wake-time" ? s.wakeMaxMs : s.sleepMaxMs) = hi;
    } else if (verb == "mode" && needArgs(1)) {
        if (!parseModeSize(w[1], s.modeWidth, s.modeHeight))
            return "bad size " + quoted(w[1]) + " (WIDTHxHEIGHT, 1 to 16384 each)";
    } else if (verb == "mcu-restart" && w.size() >= 2) {
        for (size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "doze")
                s.firmware.restartOnDoze = true;
            else if (w[i] == "wake")
                s.firmware.restartOnWake = true;
            else if (w[i] == "command")
                s.firmware.restartOnCommand = true;
            else
                return "bad restart " + quoted(w[i]) + " (doze, wake or command)";
        }
    } else if ((verb == "mcu-jitter" || verb == "mcu-lose") && needArgs(1)) {
        double value = 0.0;
        const double most = verb == "mcu-jitter" ? 1000.0 : 50.0;
        if (!parseSeconds(w[1], value) || value > most)
            return "bad " + std::string(verb == "mcu-jitter" ? "jitter " : "share ") + quoted(w[1]) +
                   (verb == "mcu-jitter" ? " (ms, 0 to 1000)" : " (percent, 0 to 50)");
        (verb == "mcu-jitter" ? s.firmware.jitterMs : s.firmware.lossPercent) = value;
    } else if (verb == "mcu-poll" && needArgs(1)) {
        int32_t ms = 0;
        if (!parseInt(w[1], ms) || ms < 1 || ms > 255)
            return "bad poll period " + quoted(w[1]) + " (ms, 1 to 255)";
        s.firmware.pollMs = uint32_t(ms);
    } else if (verb == "mcu-drift" && needArgs(1)) {
        if (!parseInt(w[1], s.firmware.driftPpm) || s.firmware.driftPpm < -1000 || s.firmware.driftPpm > 1000)
            return "bad drift " + quoted(w[1]) + " (ppm, -1000 to 1000)";
    } else if (verb == "mcu-version" && needArgs(1)) {
        const bool printable =
            std::all_of(w[1].begin(), w[1].end(), [](char c) { return c > ' ' && c < 0x7f; });
        if (w[1].size() > 32 || !printable)
            return "bad version " + quoted(w[1]) + " (1 to 32 printable characters)";
        s.mcuVersion = w[1];
    } else if (verb == "at" && w.size() >= 3) {
        TimedEvent e;
        if (!parseSeconds(w[1], e.atSeconds)) return "bad time " + quoted(w[1]);
        if (e.atSeconds > kMaxEventSeconds) return "bad time " + quoted(w[1]) + " (seconds, 0 to 86400)";
        const auto known = std::find_if(std::begin(kEvents), std::end(kEvents),
                                        [&](const EventName& n) { return w[2] == n.name; });
        if (known == std::end(kEvents)) return "unknown event " + quoted(w[2]);
        e.event = known->event;
        if (e.event == ScenarioEvent::PresentFail) {
            if (w.size() != 4 || !parseCount(w[3], e.count) || e.count < 1)
                return std::string("present-fail needs a count") + kCountRange;
        } else if (w.size() != 3) {
            return quoted(w[2]) + " takes no argument";
        }
        s.timeline.push_back(e);
    } else {
        return "cannot read " + quoted(verb) + " with " + std::to_string(w.size() - 1) + " argument(s)";
    }
    return {};
}

}  // namespace

const char* scenarioEventName(ScenarioEvent event) {
    for (const EventName& known : kEvents)
        if (known.event == event) return known.name;
    return "?";
}

EventTarget targetOf(ScenarioEvent event) {
    for (const EventName& known : kEvents)
        if (known.event == event) return known.target;
    return EventTarget::Display;
}

unsigned explainsOf(ScenarioEvent event) {
    for (const EventName& known : kEvents)
        if (known.event == event) return known.explains;
    return kExplainsNothing;
}

bool isLasting(ScenarioEvent event) {
    for (const EventName& known : kEvents)
        if (known.event == event) return known.lasting;
    return false;
}

std::vector<ScenarioEvent> scenarioEvents() {
    std::vector<ScenarioEvent> events;
    for (const EventName& known : kEvents) events.push_back(known.event);
    return events;
}

ScenarioParse parseScenario(const std::string& text) {
    ScenarioParse result;
    if (text.size() > kMaxScenarioBytes) {
        result.error = "longer than " + std::to_string(kMaxScenarioBytes) + " bytes";
        return result;
    }
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        // A comment ends the line, ';' included; then the line splits into statements.
        std::istringstream statements(line.substr(0, line.find('#')));
        for (std::string statement; std::getline(statements, statement, ';');) {
            std::istringstream words(statement);
            std::vector<std::string> w;
            for (std::string word; words >> word;) w.push_back(word);
            if (w.empty()) continue;
            if (std::string error = applyStatement(w, result.scenario); !error.empty()) {
                result.error = "line " + std::to_string(number) + ": " + error;
                return result;
            }
        }
    }
    std::stable_sort(result.scenario.timeline.begin(), result.scenario.timeline.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.atSeconds < b.atSeconds; });
    result.ok = true;
    return result;
}

ScenarioParse readScenarioFile(const std::string& path) {
    ScenarioParse failed;
    const std::string name = "scenario file " + quoted(path);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) {
        failed.error = "cannot read " + name;
        return failed;
    }
    // A FIFO or a device could block the read or never end.
    if (!std::filesystem::is_regular_file(status)) {
        failed.error = name + " is not a regular file";
        return failed;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(kMaxScenarioBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad() || (!file && !file.eof())) {
        failed.error = "cannot read " + name;
        return failed;
    }
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxScenarioBytes) {
        failed.error = name + " is longer than " + std::to_string(kMaxScenarioBytes) + " bytes";
        return failed;
    }
    return parseScenario(text);
}

bool loadScenario(const lines::SimulatorVoice& who, Scenario& scenario) {
    const char* value = std::getenv("TESSARAY_SIM_SCENARIO");
    const ScenarioParse parsed = value == nullptr  ? parseScenario("")
                                 : value[0] == '@' ? readScenarioFile(value + 1)
                                                   : parseScenario(value);
    if (!parsed.ok) lines::printSimulatorLine(who.badScenario, parsed.error.c_str());
    scenario = parsed.scenario;
    return parsed.ok;
}

}  // namespace corva::sim
