// The command line, parsed into the run's settings.
#pragma once

#include <cstdint>

namespace corva {

struct RunSettings {
    bool doze = false;
    bool benchmark = false;
    int32_t cycles = 3;
    double activeSeconds = 2.0;
    double holdSeconds = 3.0;
    double runSeconds = 10.0;
};

// `args` are the arguments after the program's name. Never fails: out-of-range values
// are clamped or replaced by their defaults, as the tool documents.
RunSettings parseCommandLine(int argc, const char* const* args);

}  // namespace corva
