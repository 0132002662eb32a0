#include "tests/e2e/support/chaos_run.h"

#include "app/run_settings.h"
#include "sim/headset/scenario.h"
#include "tests/support/linux/sim_process.h"

#include <csignal>
#include <cstdio>
#include <random>
#include <sstream>

namespace corva::test {
namespace {

// std::mt19937's sequence is fixed by the standard; the distributions are not, so the
// draws are made here and a seed gives the same run with every standard library.
class Draw {
  public:
    explicit Draw(uint32_t seed) : gen_(seed) {}
    uint32_t below(uint32_t n) { return gen_() % n; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    double between(double lo, double hi) { return lo + (hi - lo) * (gen_() / 4294967296.0); }
    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[below(uint32_t(items.size()))];
    }

  private:
    std::mt19937 gen_;
};

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Rough moments of a run, in seconds from the program's start, for placing faults.
struct Timeline {
    double initDone = 0.4;
    double end = 0.0;
    std::vector<double> downs, wakes;  // benchmark only: each cycle's park/doze and wake
};

Timeline timelineOf(const RunSettings& settings, bool benchmark, double plainSeconds) {
    Timeline t;
    if (!benchmark) {
        t.end = t.initDone + plainSeconds;
        return t;
    }
    double at = t.initDone + 0.15;  // displays on
    for (int32_t n = 0; n < settings.cycles; ++n) {
        at += settings.activeSeconds;
        t.downs.push_back(at);
        at += 0.05 + settings.holdSeconds;
        t.wakes.push_back(at);
        at += 0.15;
    }
    t.end = at;
    return t;
}

double momentIn(Draw& draw, const Timeline& t) {
    const uint32_t phases = t.downs.empty() ? 3 : 7;
    const size_t cycle = t.downs.empty() ? 0 : draw.below(uint32_t(t.downs.size()));
    switch (draw.below(phases)) {
        case 0:  // start-up
            return draw.between(0.0, t.initDone + 0.2);
        case 1:  // exit
            return draw.between(t.end - 0.3, t.end + 0.4);
        case 2:  // presenting (plain) or active
            return t.downs.empty() ? draw.between(t.initDone, t.end)
                                   : draw.between(t.downs[cycle] - 0.4, t.downs[cycle]);
        case 3:  // park or doze request
            return draw.between(t.downs[cycle] - 0.05, t.downs[cycle] + 0.1);
        case 4:  // hold
            return draw.between(t.downs[cycle] + 0.1, t.wakes[cycle]);
        case 5:  // wake request
            return draw.between(t.wakes[cycle] - 0.05, t.wakes[cycle] + 0.05);
        default:  // displays-on wait
            return draw.between(t.wakes[cycle], t.wakes[cycle] + 0.25);
    }
}

// The faults of the simulator's own scenario table: the microcontroller's, then the
// wearer's, then the display's; those the headset recovers from (a later event can undo
// them) drawn twice as often as the lasting ones. Present failures come as a few (under the
// error budget) and as more than the budget.
std::vector<std::string> eventPool() {
    std::vector<std::string> pool;
    for (int twice = 0; twice < 2; ++twice)
        for (sim::EventTarget target :
             {sim::EventTarget::Microcontroller, sim::EventTarget::Wearer, sim::EventTarget::Display})
            for (sim::ScenarioEvent e : sim::scenarioEvents())
                if (sim::targetOf(e) == target && !sim::isLasting(e))
                    pool.push_back(sim::scenarioEventName(e));
    for (sim::ScenarioEvent e : sim::scenarioEvents()) {
        if (!sim::isLasting(e)) continue;
        const std::string name = sim::scenarioEventName(e);
        if (e == sim::ScenarioEvent::PresentFail) {
            pool.push_back(name + " 2");
            pool.push_back(name + " 12");
        } else {
            pool.push_back(name);
        }
    }
    return pool;
}

const std::vector<std::string> kRestarts = {"doze", "wake", "command", "doze wake command"};
const std::vector<uint32_t> kIntervals = {1, 5, 20};

void finish(ChaosRun& run, const std::string& scenarioText) {
    run.scenario = scenarioText;
    std::vector<const char*> argv;
    for (const std::string& a : run.args) argv.push_back(a.c_str());
    const RunSettings settings = parseCommandLine(int(argv.size()), argv.data());
    const int acquireFails = sim::parseScenario(scenarioText).scenario.acquireFailures;
    // The documented bound, the acquisition retries (one a second), start-up (the link's
    // probe and first average) and teardown (the status line's last second, a reconnect
    // probe in progress when the link closes).
    run.boundSeconds = settings.runSeconds + acquireFails * 1.0 + 9.0;
}

}  // namespace

ChaosRun chaosRun(uint32_t seed) {
    Draw draw(seed);
    ChaosRun run;
    run.seed = seed;
    const uint32_t mode = draw.below(100);
    const bool benchmark = mode >= 25;
    double plainSeconds = 0.0;
    if (!benchmark) {
        plainSeconds = double(1 + draw.below(3));
        run.args = {fixed(plainSeconds, 0)};
    } else {
        run.args = {mode < 60 ? "cycle" : "doze", std::to_string(1 + draw.below(2)),
                    fixed(draw.between(0.5, 0.9), 1), fixed(draw.between(0.5, 1.2), 1)};
    }
    std::vector<const char*> argv;
    for (const std::string& a : run.args) argv.push_back(a.c_str());
    const Timeline timeline =
        timelineOf(parseCommandLine(int(argv.size()), argv.data()), benchmark, plainSeconds);

    std::ostringstream scenario;
    if (draw.chance(4)) scenario << "no-mcu; ";
    if (draw.chance(2)) scenario << "no-display; ";
    if (draw.chance(8)) scenario << "away; ";
    if (draw.chance(6)) scenario << "acquire-fail " << 1 + draw.below(2) << "; ";
    if (draw.chance(15)) {
        const uint32_t lo = 60 + draw.below(300);
        scenario << "wake-time " << lo << " " << lo + draw.below(100) << "; ";
    }
    if (draw.chance(10)) {
        const uint32_t lo = 10 + draw.below(150);
        scenario << "sleep-time " << lo << " " << lo + draw.below(50) << "; ";
    }
    static const std::vector<std::string> events = eventPool();
    const uint32_t faults = 1 + draw.below(4);
    for (uint32_t i = 0; i < faults; ++i)
        scenario << "at " << fixed(std::max(0.0, momentIn(draw, timeline)), 2) << " " << draw.pick(events)
                 << "; ";
    if (draw.chance(20)) {
        run.signal = draw.chance(50) ? SIGINT : SIGTERM;
        run.signalAfter = draw.between(0.0, timeline.end);
    }
    run.mergeErrors = draw.chance(50);
    // The MCU firmware's behaviours, from a draw of their own so that the faults above stay
    // what each seed has always given.
    Draw firmware(seed * 2654435761u + 17u);
    if (firmware.chance(35)) {
        for (uint32_t n = 1 + firmware.below(2); n > 0; --n) {
            switch (firmware.below(6)) {
                case 0:
                    scenario << "mcu-restart " << firmware.pick(kRestarts) << "; ";
                    break;
                case 1:
                    scenario << "mcu-jitter " << fixed(firmware.between(0.1, 3.0), 1) << "; ";
                    break;
                case 2:
                    scenario << "mcu-poll " << (1u << firmware.below(4)) << "; ";
                    break;
                case 3:
                    scenario << "mcu-drift " << int(firmware.below(601)) - 300 << "; ";
                    break;
                case 4:
                    scenario << "mcu-lose " << 1 + firmware.below(20) << "; ";
                    break;
                default:
                    run.environment = {"TESSARAY_TELEMETRY_MS=" + std::to_string(firmware.pick(kIntervals))};
                    break;
            }
        }
    }
    std::string text = scenario.str();
    if (text.size() >= 2) text.resize(text.size() - 2);
    finish(run, text);
    return run;
}

ChaosRun keptRun(const std::string& argsAndScenario) {
    ChaosRun run;
    const size_t bar = argsAndScenario.find('|');
    std::istringstream args(argsAndScenario.substr(0, bar));
    for (std::string a; args >> a;) run.args.push_back(a);
    std::string scenario = bar == std::string::npos ? "" : argsAndScenario.substr(bar + 1);
    scenario.erase(0, scenario.find_first_not_of(' '));
    scenario.erase(scenario.find_last_not_of(' ') + 1);
    run.mergeErrors = true;
    finish(run, scenario);
    return run;
}

std::string replayCommand(const ChaosRun& run) {
    std::string args;
    for (const std::string& a : run.args) args += " " + a;
    std::string variables;
    for (const std::string& v : run.environment) variables += v + " ";
    std::string command = variables + "TESSARAY_SIM_SCENARIO='" +
                          childScenario(simOptions({}, run.scenario)) + "' build/linux/sim/tessaray-sim" +
                          args;
    if (run.signal != 0)
        command += "   # and " + std::string(run.signal == SIGINT ? "SIGINT" : "SIGTERM") + " " +
                   fixed(run.signalAfter, 2) + " s after its first 'prox ' line";
    if (run.seed != 0)
        command = "scripts/chaos 1 --from " + std::to_string(run.seed) + "   # replays:\n    " + command;
    return command;
}

}  // namespace corva::test
