#include "sim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace corva::sim {

namespace {

bool parseInt(const std::string& word, int32_t& out) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(word.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<int32_t>(value);
    return true;
}

bool parseSeconds(const std::string& word, double& out) {
    if (word.empty()) return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return *end == '\0' && std::isfinite(out) && out >= 0.0;
}

struct EventName {
    const char* name;
    ScenarioEvent event;
};
constexpr EventName kEvents[] = {
    {"doff", ScenarioEvent::Doff},
    {"don", ScenarioEvent::Don},
    {"unplug", ScenarioEvent::Unplug},
    {"replug", ScenarioEvent::Replug},
    {"silence", ScenarioEvent::Silence},
    {"talk", ScenarioEvent::Talk},
    {"vblank-lost", ScenarioEvent::VblankLost},
    {"vblank-restored", ScenarioEvent::VblankRestored},
    {"waitable-dead", ScenarioEvent::WaitableDead},
    {"device-removed", ScenarioEvent::DeviceRemoved},
    {"present-fail", ScenarioEvent::PresentFail},
};

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
        if (!parseInt(w[1], s.acquireFailures) || s.acquireFailures < 0) return "bad count '" + w[1] + "'";
        if (w.size() == 3 && (!parseInt(w[2], s.acquireFailureStatus) || s.acquireFailureStatus == 0))
            return "bad failure status '" + w[2] + "'";
    } else if (verb == "acquire-status" && needArgs(1)) {
        if (!parseInt(w[1], s.acquireStatus)) return "bad status '" + w[1] + "'";
        s.acquireStatusSet = true;
    } else if (verb == "present-fail" && needArgs(1)) {
        if (!parseInt(w[1], s.presentFailures) || s.presentFailures < 0) return "bad count '" + w[1] + "'";
    } else if ((verb == "wake-time" || verb == "sleep-time") && needArgs(2)) {
        double lo = 0.0, hi = 0.0;
        if (!parseSeconds(w[1], lo) || !parseSeconds(w[2], hi) || lo > hi || hi > 10000.0)
            return "bad range '" + w[1] + " " + w[2] + "' (milliseconds, MIN <= MAX <= 10000)";
        (verb == "wake-time" ? s.wakeMinMs : s.sleepMinMs) = lo;
        (verb == "wake-time" ? s.wakeMaxMs : s.sleepMaxMs) = hi;
    } else if (verb == "at" && w.size() >= 3) {
        TimedEvent e;
        if (!parseSeconds(w[1], e.atSeconds)) return "bad time '" + w[1] + "'";
        const auto known = std::find_if(std::begin(kEvents), std::end(kEvents),
                                        [&](const EventName& n) { return w[2] == n.name; });
        if (known == std::end(kEvents)) return "unknown event '" + w[2] + "'";
        e.event = known->event;
        if (e.event == ScenarioEvent::PresentFail) {
            if (w.size() != 4 || !parseInt(w[3], e.count) || e.count < 1) return "present-fail needs a count";
        } else if (w.size() != 3) {
            return "'" + w[2] + "' takes no argument";
        }
        s.timeline.push_back(e);
    } else {
        return "cannot read '" + verb + "' with " + std::to_string(w.size() - 1) + " argument(s)";
    }
    return {};
}

}  // namespace

ScenarioParse parseScenario(const std::string& text) {
    ScenarioParse result;
    std::string normalised = text;
    std::replace(normalised.begin(), normalised.end(), ';', '\n');
    std::istringstream lines(normalised);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        if (std::string error = applyStatement(w, result.scenario); !error.empty()) {
            result.error = "line " + std::to_string(number) + ": " + error;
            return result;
        }
    }
    std::stable_sort(result.scenario.timeline.begin(), result.scenario.timeline.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.atSeconds < b.atSeconds; });
    result.ok = true;
    return result;
}

ScenarioParse scenarioFromEnvironment() {
    const char* value = std::getenv("TESSARAY_SIM_SCENARIO");
    if (value == nullptr || *value == '\0') return parseScenario("");
    if (value[0] != '@') return parseScenario(value);
    std::ifstream file(value + 1);
    if (!file) {
        ScenarioParse failed;
        failed.error = std::string("cannot read scenario file '") + (value + 1) + "'";
        return failed;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parseScenario(text.str());
}

}  // namespace corva::sim
