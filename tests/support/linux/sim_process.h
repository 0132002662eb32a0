// Runs the built tessaray-sim as a child process with a scenario in its environment and
// captures what it prints, its exit code and how long it ran.
#pragma once

#include "tests/support/test_helpers.h"

#include <string>
#include <vector>

namespace corva::test {

struct SimProcessOptions {
    std::string program;            // empty: tessaray-sim
    std::vector<std::string> args;  // the program's command line, without its name
    // More variables for the child ("NAME=value"), after the simulator's own.
    std::vector<std::string> environment;
    std::string scenario;  // TESSARAY_SIM_SCENARIO; empty: the healthy worn headset
    // The headset's own mode list, as the golden outputs print it. Otherwise the display offers
    // one small mode at the same 75 Hz (kCheapMode): a 5088x2544 frame costs the CPU renderer
    // most of a core, which kept these runs from sharing the machine.
    bool everyMode = false;
    std::string truthFile;         // TESSARAY_SIM_TRUTH_FILE; empty: not written
    double timeoutSeconds = 60.0;  // then the child is killed
    // Sends SIGINT `interruptDelaySeconds` after standard output first contains this text.
    std::string interruptAfter;
    double interruptDelaySeconds = 0.0;
    int interruptSignal = 2;   // SIGINT; e.g. 15 for SIGTERM
    int interruptCount = 1;    // signals sent, 0.1 s apart
    bool mergeErrors = false;  // standard error into `out` too, as ">log 2>&1" does
    // Where standard output goes: read as it comes, closed (">&-"), /dev/full, a pipe whose
    // reader quits once `readerQuitsAfter` came ("| head"), or a pipe kept full and unread for
    // the first `stalledSeconds` (a console that holds output back).
    enum class Stdout { Read, Closed, Full, ReaderQuits, Stalled } stdoutTo = Stdout::Read;
    // The child's files may grow to this many bytes (RLIMIT_FSIZE, SIGXFSZ ignored): a write
    // beyond fails as on a full disk. 0: no limit.
    long fileSizeLimit = 0;
    std::string readerQuitsAfter;
    double stalledSeconds = 0.0;
};

struct SimProcessResult {
    bool started = false;
    bool timedOut = false;
    bool interrupted = false;  // the (first) signal was sent
    int exitCode = -1;         // -1: ended by a signal (or never started)
    int signal = 0;            // the signal that ended it, if one did
    std::string out;
    std::string err;
    double seconds = 0.0;  // from start to exit
};

// The scenario statement that gives the display one small mode (SimProcessOptions::everyMode).
inline constexpr char kCheapMode[] = "mode 1280x640";
// The scenario as the child gets it: the cheap mode first, unless every mode is asked for.
std::string childScenario(const SimProcessOptions& options);

SimProcessOptions simOptions(std::vector<std::string> args, std::string scenario = {},
                             std::string truthFile = {});

SimProcessResult runSim(const SimProcessOptions& options);

}  // namespace corva::test
