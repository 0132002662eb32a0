#include "sim/driver/display_truth.h"

#include <cinttypes>
#include <cstdio>

namespace corva::sim {

std::string displayTruthText(const Timeline& timeline, const std::vector<PanelTransition>& panels) {
    std::string text;
    char line[160];
    for (const PresentRecord& p : timeline.presents) {
        std::snprintf(line, sizeof line,
                      "present seq=%" PRIu64 " time_ns=%" PRId64 " status=%d shown_vblank=%" PRId64 "\n",
                      p.seq, p.timeNs, p.status, p.shownAtVblank);
        text += line;
    }
    for (const VblankRecord& v : timeline.vblanks) {
        std::snprintf(line, sizeof line,
                      "vblank index=%" PRIu64 " time_ns=%" PRId64 " present_seq=%" PRIu64 " new=%d\n",
                      v.index, v.timeNs, v.presentSeq, v.newFrame ? 1 : 0);
        text += line;
    }
    for (const PanelTransition& t : panels) {
        std::snprintf(line, sizeof line, "panel on=%d time_ns=%" PRId64 "\n", t.on ? 1 : 0, t.timeNs);
        text += line;
    }
    return text;
}

}  // namespace corva::sim
