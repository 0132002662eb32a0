// The simulated headset's ground truth as a text file: every displays transition, what the
// proximity MCU was left in and the display's own record (presents, vertical blanks, panel
// power), for checking what the program printed against what the headset did. Written and
// read here only, so the writer and its readers cannot drift.
#pragma once

#include "sim/driver/sim_display.h"
#include "sim/headset/headset.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corva::sim {

// A proximity bypass command ('p' on, '[' off) as the MCU's own interface received it.
struct BypassCommand {
    char command = 0;
    bool accepted = false;  // the feature report succeeded
    bool applied = false;   // the firmware acted on it (a silent one takes reports and does nothing)
    int64_t timeNs = 0;
};

struct GroundTruth {
    std::vector<DisplaysTransition> transitions;
    int bypassAtExit = -1;     // the MCU's proximity bypass at exit (0 or 1); -1: no MCU
    int answeringAtExit = -1;  // the MCU was plugged in, given its rate and streaming; -1: no MCU
    // With an MCU, every bypass command it received, in order: the wire's order, against
    // which the program's log order is checked.
    std::vector<BypassCommand> bypassCommands;
    // The display's record (its surfaces are not written).
    std::vector<PresentRecord> presents;
    std::vector<VblankRecord> vblanks;
    std::vector<PanelTransition> panels;
};

// From each stamped wake (a displays-on transition with the program's wake-request stamp and
// a telemetry report showing it) the time from the stamp to that report, in order.
std::vector<double> wakeLatenciesMs(const GroundTruth& truth);
// For the same wakes, the time from the stamp to the displays really coming on: what the
// program's displays-on interval (WAKE_PHASES) must hold.
std::vector<double> wakeDisplaysOnMs(const GroundTruth& truth);

std::string formatGroundTruth(const GroundTruth& truth);
// False, with the line in `error`, on any line this format does not have: a reader never
// silently sees fewer transitions than were written.
bool parseGroundTruth(std::string_view text, GroundTruth& truth, std::string& error);

bool writeGroundTruthFile(const GroundTruth& truth, const std::string& path);
bool readGroundTruthFile(const std::string& path, GroundTruth& truth, std::string& error);

}  // namespace corva::sim
