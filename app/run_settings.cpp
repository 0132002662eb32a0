#include "app/run_settings.h"

#include "app/atoi_clamped.h"

#include <cstring>

namespace corva {

RunSettings parseCommandLine(int argc, const char* const* args) {
    RunSettings s;
    const char* first = argc >= 1 ? args[0] : nullptr;
    if (first != nullptr && std::strcmp(first, "doze") == 0) s.doze = true;

    if ((first != nullptr && std::strcmp(first, "cycle") == 0) || s.doze) {
        s.benchmark = true;
        if (argc >= 2) s.cycles = atoiClamped(args[1]);
        if (argc >= 3) s.activeSeconds = atofDecimal(args[2]);
        if (argc >= 4) s.holdSeconds = atofDecimal(args[3]);
        if (s.cycles < 1) s.cycles = 1;
        if (s.cycles > 10) s.cycles = 10;
        // Out-of-range times fall back to the defaults, not to the nearer bound.
        if (!(s.activeSeconds >= 0.5 && s.activeSeconds <= 10.0)) s.activeSeconds = 2.0;
        if (!(s.holdSeconds >= 0.5 && s.holdSeconds <= 20.0)) s.holdSeconds = 3.0;
        s.runSeconds = (s.holdSeconds + s.activeSeconds + 4.0) * s.cycles + 5.0;
        return s;
    }

    if (first != nullptr) {
        s.runSeconds = atofDecimal(first);
        if (!(s.runSeconds > 0.0 && s.runSeconds <= 30.0)) s.runSeconds = 30.0;
    }
    return s;
}

}  // namespace corva
