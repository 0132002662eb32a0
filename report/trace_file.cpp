#include "report/trace_file.h"

#include "trace/trace_format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace corva::report {

namespace {

bool parseTime(const char* text, int64_t& ms) {
    unsigned h = 0, m = 0, s = 0, milli = 0;
    if (std::sscanf(text, "%2u:%2u:%2u.%3u", &h, &m, &s, &milli) != 4 || h > 23 || m > 59 || s > 59)
        return false;
    ms = ((int64_t(h) * 60 + m) * 60 + s) * 1000 + milli;
    return true;
}

// An optional offset ("-" for none) from base.
bool parseOffset(const char* text, int64_t base, int64_t& out, bool& present) {
    if (std::strcmp(text, "-") == 0) {
        present = false;
        out = 0;
        return true;
    }
    long long value = 0;
    char extra = 0;
    if (std::sscanf(text, "%lld%c", &value, &extra) != 1) return false;
    present = true;
    out = base + value;
    return true;
}

bool parseFrame(const char* line, TraceFrame& f) {
    unsigned long long index = 0;
    long long start = 0, top = 0, submit = 0, present = 0;
    char vblank[24], predicted[24], lead[24], wait = 0;
    int free = 0, status = 0;
    if (std::sscanf(line, "F %llu %lld %lld %lld %lld %23s %c %23s %23s %d %d", &index, &start, &top, &submit,
                    &present, vblank, &wait, predicted, lead, &free, &status) != 11)
        return false;
    if (wait != trace::kWaitSignalled && wait != trace::kWaitTimedOut && wait != trace::kWaitNone)
        return false;
    f.index = index;
    f.startNs = start;
    f.loopTopNs = start + top;
    f.submitNs = start + submit;
    f.presentNs = start + present;
    f.wait = wait;
    f.freeRunning = free != 0;
    f.presentStatus = status;
    bool has = false;
    return parseOffset(vblank, start, f.vblankNs, has) && parseOffset(predicted, start, f.predictedNs, has) &&
           parseOffset(lead, 0, f.leadNs, has);
}

bool parseLine(const std::string& text, TraceFile& t) {
    const char* line = text.c_str();
    long long ns = 0, ns2 = 0;
    char word[32] = {};
    int a = 0, b = 0;
    unsigned from = 0, to = 0;
    unsigned long long count = 0;
    if (text.size() < 3 || line[1] != ' ') return false;
    switch (line[0]) {
        case trace::kFrameLine: {
            TraceFrame f;
            if (!parseFrame(line, f)) return false;
            t.frames.push_back(f);
            return true;
        }
        case trace::kMarkerLine: {
            char time[16] = {};
            char name[32] = {};
            TraceMarker m;
            if (std::sscanf(line, "M %lld %15s %31s", &ns, time, name) != 3 || !parseTime(time, m.localMs))
                return false;
            m.ns = ns;
            m.name = name;
            t.markers.push_back(m);
            return true;
        }
        case trace::kPanelLine: {
            const int n = std::sscanf(line, "P %lld %lld %31s %d %d", &ns, &ns2, word, &a, &b);
            const bool on = std::strcmp(word, "on") == 0;
            if (n < 4 || (!on && std::strcmp(word, "off") != 0) || (on && n != 5)) return false;
            t.panels.push_back(TracePanelCall{ns, ns2, on, a, on ? b : 0});
            return true;
        }
        case trace::kParkedLine:
        case trace::kWakeLine:
            if (std::sscanf(line + 2, "%lld", &ns) != 1) return false;
            (line[0] == trace::kParkedLine ? t.parked : t.wakesSeen).push_back(ns);
            return true;
        case trace::kDstatLine:
            if (std::sscanf(line, "S %lld 0x%x 0x%x", &ns, &from, &to) != 3 || from > 0xFFFF || to > 0xFFFF)
                return false;
            t.dstat.push_back(TraceDstat{ns, uint16_t(from), uint16_t(to)});
            return true;
        case trace::kFreeRunLine: {
            if (std::sscanf(line, "R %lld %31s %d", &ns, word, &a) != 3) return false;
            TraceInstant i;
            i.ns = ns;
            i.flag = std::strcmp(word, "start") == 0;
            i.announced = a != 0;
            if (!i.flag && std::strcmp(word, "end") != 0) return false;
            t.freeRuns.push_back(i);
            return true;
        }
        case trace::kPresentErrorLine: {
            TraceInstant i;
            if (std::sscanf(line, "X %lld %llu %d", &ns, &count, &a) != 3) return false;
            i.ns = ns;
            i.frame = count;
            i.status = a;
            t.presentErrors.push_back(i);
            return true;
        }
        case trace::kLinkLine: {
            TraceInstant i;
            if (std::sscanf(line, "L %lld %31s", &ns, word) != 2) return false;
            i.ns = ns;
            i.flag = std::strcmp(word, "lost") == 0;
            if (!i.flag && std::strcmp(word, "back") != 0) return false;
            t.linkChanges.push_back(i);
            return true;
        }
        case trace::kDroppedLine:
        case trace::kEndLine:
            if (std::sscanf(line + 2, "%lld %llu", &ns, &count) != 2) return false;
            t.dropped = count;
            if (line[0] == trace::kEndLine) t.ended = true;
            return true;
        case trace::kClockLine: {
            char time[16] = {};
            long long unixMs = 0;
            if (std::sscanf(line, "C %lld %15s %lld", &ns, time, &unixMs) != 3 ||
                !parseTime(time, t.clockLocalMs))
                return false;
            t.clockSteadyNs = ns;
            t.clockUnixMs = unixMs;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

TraceRead parseTrace(const std::string& bytes, TraceFile& trace, std::string& error) {
    const size_t firstEnd = bytes.find('\n');
    const std::string first =
        bytes.substr(0, firstEnd == std::string::npos ? std::min<size_t>(bytes.size(), 64) : firstEnd);
    const std::string magic = std::string(trace::kMagic) + " ";
    int version = 0;
    char extra = 0;
    if (firstEnd == std::string::npos || first.rfind(magic, 0) != 0 ||
        std::sscanf(first.c_str() + magic.size(), "%d%c", &version, &extra) != 1 || version < 1) {
        error = "not a tessaray trace (its first line is not \"" + std::string(trace::kMagic) + " VERSION\")";
        return TraceRead::NotATrace;
    }
    if (version > trace::kVersion) {
        error = "a trace of version " + std::to_string(version) + "; this tessaray-report reads version " +
                std::to_string(trace::kVersion) + " at most";
        return TraceRead::NewerVersion;
    }
    trace.version = version;
    size_t at = firstEnd + 1;
    while (at < bytes.size()) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            trace.cut = true;  // the program was killed inside this line
            break;
        }
        std::string line = bytes.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!parseLine(line, trace)) trace.badLines += 1;
        at = end + 1;
    }
    return TraceRead::Ok;
}

TraceRead readTraceFile(const std::string& path, TraceFile& trace, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return TraceRead::NotATrace;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    trace.source = path;
    return parseTrace(bytes.str(), trace, error);
}

}  // namespace corva::report
