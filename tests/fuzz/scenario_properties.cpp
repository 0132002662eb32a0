#include "sim/headset/scenario.h"
#include "tests/fuzz/properties.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace corva::sim {
namespace {

bool sameEvent(const TimedEvent& a, const TimedEvent& b) {
    return a.atSeconds == b.atSeconds && a.event == b.event && a.count == b.count;
}

bool same(const Scenario& a, const Scenario& b) {
    return a.noDisplay == b.noDisplay && a.noMcu == b.noMcu && a.startsWorn == b.startsWorn &&
           a.acquireFailures == b.acquireFailures && a.acquireFailureStatus == b.acquireFailureStatus &&
           a.acquireStatusSet == b.acquireStatusSet && a.acquireStatus == b.acquireStatus &&
           a.presentFailures == b.presentFailures && a.wakeMinMs == b.wakeMinMs &&
           a.wakeMaxMs == b.wakeMaxMs && a.sleepMinMs == b.sleepMinMs && a.sleepMaxMs == b.sleepMaxMs &&
           a.modeWidth == b.modeWidth && a.modeHeight == b.modeHeight &&
           std::equal(a.timeline.begin(), a.timeline.end(), b.timeline.begin(), b.timeline.end(), sameEvent);
}

// The shortest text that reads back as exactly this value.
std::string number(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The scenario written back as text: reading it must give the same scenario.
std::string written(const Scenario& s) {
    std::string text;
    if (s.noDisplay) text += "no-display\n";
    if (s.noMcu) text += "no-mcu\n";
    if (!s.startsWorn) text += "away\n";
    if (s.acquireFailures != 0 || s.acquireFailureStatus != -1)
        text += "acquire-fail " + std::to_string(s.acquireFailures) + " " +
                std::to_string(s.acquireFailureStatus) + "\n";
    if (s.acquireStatusSet) text += "acquire-status " + std::to_string(s.acquireStatus) + "\n";
    if (s.presentFailures != 0) text += "present-fail " + std::to_string(s.presentFailures) + "\n";
    text += "wake-time " + number(s.wakeMinMs) + " " + number(s.wakeMaxMs) + "\n";
    text += "sleep-time " + number(s.sleepMinMs) + " " + number(s.sleepMaxMs) + "\n";
    if (s.modeWidth != 0)
        text += "mode " + std::to_string(s.modeWidth) + "x" + std::to_string(s.modeHeight) + "\n";
    for (const TimedEvent& e : s.timeline) {
        text += "at " + number(e.atSeconds) + " " + scenarioEventName(e.event);
        if (e.event == ScenarioEvent::PresentFail) text += " " + std::to_string(e.count);
        text += "\n";
    }
    return text;
}

const char* checkAccepted(const Scenario& s) {
    FUZZ_REQUIRE(s.acquireFailures >= 0 && s.presentFailures >= 0);
    FUZZ_REQUIRE(s.acquireFailureStatus != 0);
    FUZZ_REQUIRE(s.wakeMinMs >= 0.0 && s.wakeMinMs <= s.wakeMaxMs && s.wakeMaxMs <= 10000.0);
    FUZZ_REQUIRE(s.sleepMinMs >= 0.0 && s.sleepMinMs <= s.sleepMaxMs && s.sleepMaxMs <= 10000.0);
    FUZZ_REQUIRE((s.modeWidth == 0) == (s.modeHeight == 0) && s.modeWidth <= 16384 && s.modeHeight <= 16384);
    for (const TimedEvent& e : s.timeline) {
        FUZZ_REQUIRE(std::isfinite(e.atSeconds) && e.atSeconds >= 0.0);
        FUZZ_REQUIRE(e.event >= ScenarioEvent::Doff && e.event <= ScenarioEvent::PresentFail);
        FUZZ_REQUIRE(e.event == ScenarioEvent::PresentFail ? e.count >= 1 : e.count == 0);
    }
    FUZZ_REQUIRE(
        std::is_sorted(s.timeline.begin(), s.timeline.end(),
                       [](const TimedEvent& a, const TimedEvent& b) { return a.atSeconds < b.atSeconds; }));
    const ScenarioParse again = parseScenario(written(s));
    FUZZ_REQUIRE(again.ok);
    FUZZ_REQUIRE(same(again.scenario, s));
    return nullptr;
}

// "line N: ..." with N one of the input's lines, or the text is over the size limit.
const char* checkRefused(const std::string& text, const std::string& error) {
    if (text.size() > kMaxScenarioBytes) {
        FUZZ_REQUIRE(error.rfind("longer than ", 0) == 0);
        return nullptr;
    }
    FUZZ_REQUIRE(error.rfind("line ", 0) == 0);
    size_t line = 0, at = 5;
    for (; at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 1000000000; ++at)
        line = line * 10 + size_t(error[at] - '0');
    FUZZ_REQUIRE(at > 5 && error.compare(at, 2, ": ") == 0);
    FUZZ_REQUIRE(line >= 1 && line <= size_t(std::count(text.begin(), text.end(), '\n')) + 1);
    return nullptr;
}

}  // namespace
}  // namespace corva::sim

namespace corva::fuzz {

const char* checkScenario(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const sim::ScenarioParse parsed = sim::parseScenario(text);
    if (parsed.ok) {
        FUZZ_REQUIRE(parsed.error.empty());
        return sim::checkAccepted(parsed.scenario);  // which reads it again, written back
    }
    FUZZ_REQUIRE(sim::parseScenario(text).error == parsed.error);
    return sim::checkRefused(text, parsed.error);
}

}  // namespace corva::fuzz
