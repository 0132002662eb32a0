#include "report/wake_phases_line.h"

#include "report/line_fields.h"

namespace corva::report {
namespace {

// One "name=value" field: a number, or "-" (left at -1).
bool phase(LineCursor& cursor, std::string_view name, double& out) {
    cursor.expect(name);
    if (cursor.ok() && cursor.rest().starts_with("- ")) {
        cursor.expect("-");
        out = -1.0;
    } else {
        cursor.number(out);
    }
    return cursor.ok();
}

}  // namespace

bool parseWakePhases(std::string_view line, WakePhases& out) {
    WakePhases p;
    LineCursor cursor(line);
    cursor.expect("WAKE_PHASES");
    if (!phase(cursor, " react=", p.reactMs) || !phase(cursor, " mode=", p.modeMs) ||
        !phase(cursor, " power=", p.powerMs) || !phase(cursor, " vblank=", p.vblankMs))
        return false;
    cursor.expect(" on=");
    if (cursor.ok() && cursor.rest().starts_with("- ")) {
        cursor.expect("-");
    } else {
        cursor.number(p.onLoMs).expect("..").number(p.onHiMs);
        if (cursor.ok() && p.onHiMs < p.onLoMs) return false;
        p.interval = true;
    }
    cursor.expect(" ms");
    if (!cursor.ok() || !cursor.rest().empty()) return false;
    p.seen = true;
    out = p;
    return true;
}

}  // namespace corva::report
