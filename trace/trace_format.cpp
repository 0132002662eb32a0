#include "trace/trace_format.h"

#include <cinttypes>
#include <cstdio>

namespace corva::trace {

namespace {

size_t fitted(int written, size_t size) {
    return written > 0 && static_cast<size_t>(written) < size ? static_cast<size_t>(written) : 0;
}

char waitLetter(uint8_t wait) {
    switch (static_cast<VblankWait>(wait)) {
        case VblankWait::Signalled:
            return kWaitSignalled;
        case VblankWait::TimedOut:
            return kWaitTimedOut;
        default:
            return kWaitNone;
    }
}

// A frame's times after its start are written as offsets from it: shorter lines.
size_t formatFrame(char* out, size_t size, const Record& r) {
    const FrameTimes f = frameTimes(r);
    char vblank[24] = "-";
    char predicted[24] = "-";
    char lead[24] = "-";
    if (f.wait != VblankWait::NoWaitable)
        std::snprintf(vblank, sizeof vblank, "%" PRId64, f.vblankNs - f.startNs);
    if (f.predictedNs != 0) std::snprintf(predicted, sizeof predicted, "%" PRId64, f.predictedNs - f.startNs);
    if (f.leadNs != 0) std::snprintf(lead, sizeof lead, "%" PRId64, f.leadNs);
    return fitted(
        std::snprintf(out, size,
                      "%c %" PRIu64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %s %c %s %s %d %d\n",
                      kFrameLine, f.index, f.startNs, f.loopTopNs - f.startNs, f.submitNs - f.startNs,
                      f.presentNs - f.startNs, vblank, waitLetter(r.flag2), predicted, lead,
                      f.freeRunning ? 1 : 0, f.presentStatus),
        size);
}

}  // namespace

size_t formatHeader(char* out, size_t size) {
    return fitted(std::snprintf(out, size, "%s %d\n", kMagic, kVersion), size);
}

size_t formatClock(char* out, size_t size, int64_t steadyNs, uint32_t localMsOfDay, int64_t unixMs) {
    return fitted(std::snprintf(out, size, "%c %" PRId64 " %02u:%02u:%02u.%03u %" PRId64 "\n", kClockLine,
                                steadyNs, localMsOfDay / 3600000, localMsOfDay / 60000 % 60,
                                localMsOfDay / 1000 % 60, localMsOfDay % 1000, unixMs),
                  size);
}

size_t formatCount(char* out, size_t size, char letter, int64_t ns, uint64_t dropped) {
    return fitted(std::snprintf(out, size, "%c %" PRId64 " %" PRIu64 "\n", letter, ns, dropped), size);
}

size_t formatRecord(char* out, size_t size, const Record& r) {
    const int64_t t = r.t[0];
    switch (r.kind) {
        case Kind::Frame:
            return formatFrame(out, size, r);
        case Kind::Marker: {
            const uint64_t ms = r.index;
            return fitted(
                std::snprintf(out, size, "%c %" PRId64 " %02u:%02u:%02u.%03u %.*s\n", kMarkerLine, t,
                              unsigned(ms / 3600000), unsigned(ms / 60000 % 60), unsigned(ms / 1000 % 60),
                              unsigned(ms % 1000), static_cast<int>(sizeof r.name), r.name),
                size);
        }
        case Kind::PanelPower:
            if (r.flag != 0)
                return fitted(std::snprintf(out, size, "%c %" PRId64 " %" PRId64 " on %d %d\n", kPanelLine, t,
                                            r.t[1], r.status, r.status2),
                              size);
            return fitted(std::snprintf(out, size, "%c %" PRId64 " %" PRId64 " off %d\n", kPanelLine, t,
                                        r.t[1], r.status),
                          size);
        case Kind::Parked:
            return fitted(std::snprintf(out, size, "%c %" PRId64 "\n", kParkedLine, t), size);
        case Kind::WakeSeen:
            return fitted(std::snprintf(out, size, "%c %" PRId64 "\n", kWakeLine, t), size);
        case Kind::Dstat:
            return fitted(std::snprintf(out, size, "%c %" PRId64 " 0x%04x 0x%04x\n", kDstatLine, t,
                                        unsigned(r.from), unsigned(r.to)),
                          size);
        case Kind::FreeRun:
            return fitted(std::snprintf(out, size, "%c %" PRId64 " %s %d\n", kFreeRunLine, t,
                                        r.flag != 0 ? "start" : "end", r.flag2 != 0 ? 1 : 0),
                          size);
        case Kind::PresentError:
            return fitted(std::snprintf(out, size, "%c %" PRId64 " %" PRIu64 " %d\n", kPresentErrorLine, t,
                                        r.index, r.status),
                          size);
        case Kind::Link:
            return fitted(
                std::snprintf(out, size, "%c %" PRId64 " %s\n", kLinkLine, t, r.flag != 0 ? "lost" : "back"),
                size);
    }
    return 0;
}

Record frameRecord(const FrameTimes& f) {
    Record r;
    r.kind = Kind::Frame;
    r.flag = f.freeRunning ? 1 : 0;
    r.flag2 = static_cast<uint8_t>(f.wait);
    r.status = f.presentStatus;
    r.index = f.index;
    r.t[0] = f.startNs;
    r.t[1] = f.loopTopNs;
    r.t[2] = f.submitNs;
    r.t[3] = f.presentNs;
    r.t[4] = f.vblankNs;
    r.t[5] = f.predictedNs;
    r.t[6] = f.leadNs;
    return r;
}

FrameTimes frameTimes(const Record& r) {
    FrameTimes f;
    f.index = r.index;
    f.startNs = r.t[0];
    f.loopTopNs = r.t[1];
    f.submitNs = r.t[2];
    f.presentNs = r.t[3];
    f.vblankNs = r.t[4];
    f.predictedNs = r.t[5];
    f.leadNs = r.t[6];
    f.wait = static_cast<VblankWait>(r.flag2);
    f.freeRunning = r.flag != 0;
    f.presentStatus = r.status;
    return f;
}

}  // namespace corva::trace
