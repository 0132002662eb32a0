// Runs the cross-compiled tessaray.exe under Wine through scripts/wine-run, which only runs
// it and writes what it printed and its exit code; the tests check those like any other run.
#pragma once

#include "tests/support/linux/sim_process.h"

#include <string>
#include <vector>

namespace corva::test {

struct WineRunOptions {
    std::vector<std::string> args;           // tessaray.exe's command line
    std::string scenario;                    // TESSARAY_SIM_SCENARIO for the simulated nvapi64.dll
    std::string driver = "system";           // where nvapi64.dll is: system, beside or none
    bool freshStore = false;                 // the simulated driver's settings store starts afresh
    std::vector<std::string> environment{};  // more variables for the program ("NAME=value")
    bool everyMode = false;                  // as SimProcessOptions::everyMode
};

// What only some runs need.
struct WineRunExtras {
    std::vector<std::string> planted;    // libraries put beside tessaray.exe (wine-run --plant)
    double endSessionAt = 0.0;           // > 0: the Wine session ends this many seconds in
    std::string callLog;                 // the simulated driver appends the calls it receives here
    int stdoutHeadLines = 0;             // > 0: standard output's reader quits after these lines
    double secondAt = 0.0;               // > 0: the program starts again this many seconds in,
    SimProcessResult* second = nullptr;  // beside the first; what that second run did
};

// A library of the Windows build planted beside the program in the Wine runs ("hid.dll").
std::string plantedLibrary(const std::string& name);

// Why the Wine runs cannot happen here (no Windows build, no Wine); empty when they can.
std::string wineSkipReason();

// Standard output and error with Windows line ends turned into plain ones. `started` is
// false when scripts/wine-run itself failed (its own output is then in `err`).
SimProcessResult runWine(const WineRunOptions& options, const WineRunExtras& extras = {});

}  // namespace corva::test
