// What the simulated headset does during a run: its configuration at start and a
// timeline of events (taken off, unplugged, vertical blank lost, ...).
//
// Text form, one statement per line or separated by ';', '#' starts a comment that ends the
// line. Counts are decimal, 0 to 10000; times 0 to 86400 s.
//   no-display                 the driver lists no direct-mode display
//   no-mcu                     no proximity microcontroller is attached
//   acquire-fail N [STATUS]    the first N acquisitions fail (status default -1); STATUS alone
//                              with N = 0 is not allowed
//   acquire-status STATUS      every acquisition returns STATUS (e.g. -208)
//   present-fail N             Present12 fails N times from the first frame on
//   away                       the headset starts not worn
//   wake-time MIN MAX          displays on MIN..MAX ms after the wake reaches the headset
//                              (default 80 120)
//   sleep-time MIN MAX         displays off MIN..MAX ms after the request (default 20 40)
//   mode WIDTHxHEIGHT          the display offers one mode only: that size at 75 Hz, link
//                              format 22 (each side 1 to 16384); small sizes make frames cheap
//                              where the renderer is slow (an emulated CPU)
//   mcu-restart WHEN...        the MCU's telemetry timer starts afresh after WHEN: doze, wake,
//                              command (any command); after a silence it always does
//   mcu-jitter MS              each report is sent up to MS ms (0 to 1000) after its timer
//   mcu-poll MS                the host polls the MCU's endpoint every MS ms (1 to 255): a report
//                              goes at the next poll, on the host's 1 ms frames
//   mcu-drift PPM              the MCU's crystal runs PPM (-1000 to 1000) fast against the PC
//   mcu-lose PERCENT           that share of the reports (0 to 50) is lost on the way
//   coarse-timer               every sleep of the program lasts a whole number of 15.6 ms steps,
//                              as on Windows without a finer timer resolution
//   reader-stall SECONDS MS    the program's telemetry reader is starved for MS ms (1 to 10000)
//                              from SECONDS after the start: it reads nothing meanwhile, then
//                              the reports held for it in a burst
//   reader-stall wake K MS     the same from the K-th time the panels are powered on again
//                              after being off (a park wake; K from 1)
//   vblank-ppm PPM             the vertical blank runs PPM (-100000 to 100000) slower than the
//                              mode's rate
//   vblank-miss K              every K-th vertical blank (2 to 10000) never comes
//   machine-sleep SECONDS S    the machine sleeps for S s (1 to 600) from SECONDS after the
//                              start: the program's sleeps and telemetry reads stand still
//   mcu-version TEXT           the version the MCU's firmware answers (default 0.4; 1 to 32
//                              printable characters, no blank): firmware builds told apart
//   at SECONDS EVENT           EVENT happens SECONDS after the program starts:
//        doff | don | unplug | replug | silence | talk | vblank-lost | vblank-restored |
//        waitable-dead | device-removed | present-fail N
#pragma once

#include "lines/simulator_lines.h"
#include "sim/mcu/firmware_behaviour.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corva::sim {

enum class ScenarioEvent {
    Doff,
    Don,
    Unplug,
    Replug,
    Silence,
    Talk,
    VblankLost,
    VblankRestored,
    WaitableDead,
    DeviceRemoved,
    PresentFail,
};

// The part of the headset an event acts on.
enum class EventTarget {
    Display,          // vblank-lost/-restored, waitable-dead, device-removed, present-fail
    Microcontroller,  // unplug, replug, silence, talk
    Wearer,           // doff, don
};
constexpr size_t kEventTargets = 3;

// What an event can account for in a run's outcome (bits): checks of a run ask this of the
// parsed scenario instead of looking for words in its text.
enum : unsigned {
    kExplainsNothing = 0,
    kExplainsDisplayLost = 1u << 0,      // the display lost (exit 4): device removed, waitable dead
    kExplainsLinkLost = 1u << 1,         // the microcontroller gone, replugged or silent
    kExplainsWearer = 1u << 2,           // the headset taken off or put on
    kExplainsPresentFailures = 1u << 3,  // presents failing, the run ending early on them
    kExplainsFreeRun = 1u << 4,          // the vertical blank gone: the present loop paces itself
};

// As written in a scenario ("vblank-lost").
const char* scenarioEventName(ScenarioEvent event);
EventTarget targetOf(ScenarioEvent event);
unsigned explainsOf(ScenarioEvent event);
// True for a fault the headset does not recover from by itself (no later event undoes it).
bool isLasting(ScenarioEvent event);
// Every event, in the order of the simulator's table.
std::vector<ScenarioEvent> scenarioEvents();

struct TimedEvent {
    double atSeconds = 0.0;
    ScenarioEvent event = ScenarioEvent::Doff;
    int32_t count = 0;  // PresentFail only
};

struct Scenario {
    bool noDisplay = false;
    bool noMcu = false;
    bool startsWorn = true;
    int32_t acquireFailures = 0;
    int32_t acquireFailureStatus = -1;
    bool acquireStatusSet = false;
    int32_t acquireStatus = 0;  // when set: every acquisition returns it
    int32_t presentFailures = 0;
    double wakeMinMs = 80.0, wakeMaxMs = 120.0;   // displays-on transition time
    double sleepMinMs = 20.0, sleepMaxMs = 40.0;  // displays-off transition time
    uint32_t modeWidth = 0, modeHeight = 0;       // both 0: the headset's own modes
    FirmwareBehaviour firmware;                   // the MCU's telemetry timer
    // The conditions the program's figures rest on, broken (0: kept).
    bool coarseTimer = false;
    double readerStallAtSeconds = 0.0;
    int32_t readerStallMs = 0;
    int32_t readerStallWake = 0;  // from the K-th park wake instead of at a time
    int32_t vblankOffPpm = 0;
    int32_t vblankMissEvery = 0;
    double machineSleepAtSeconds = 0.0;
    int32_t machineSleepSeconds = 0;
    std::string mcuVersion;            // empty: the firmware model's own
    std::vector<TimedEvent> timeline;  // in the order written; sorted by time
};

struct ScenarioParse {
    bool ok = false;
    Scenario scenario;
    std::string error;  // "line N: ..." when !ok
};

// Scenario texts and files longer than this are refused.
constexpr size_t kMaxScenarioBytes = 64 * 1024;

ScenarioParse parseScenario(const std::string& text);
// A regular file of at most kMaxScenarioBytes (a directory, FIFO or device is refused).
ScenarioParse readScenarioFile(const std::string& path);

// The scenario named by the environment: TESSARAY_SIM_SCENARIO holds the text itself, or
// "@PATH" to read it from a file. Unset or empty: a healthy headset, worn. One that cannot
// be read is reported on standard error ("<who>: bad TESSARAY_SIM_SCENARIO: <error>") and
// gives false.
bool loadScenario(const lines::SimulatorVoice& who, Scenario& scenario);

}  // namespace corva::sim
