#include "trace/trace_file.h"

#include "trace/trace_format.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace corva::trace {

namespace {

// A frame's time given as an offset from its start; false when it leaves the clock's range.
bool fromStart(int64_t start, const FieldValue& offset, int64_t& out) {
    if (!offset.present) {
        out = 0;
        return true;
    }
    int64_t sum = 0;
    if (__builtin_add_overflow(start, offset.number, &sum) || sum < 0 || sum > kLatestNs) return false;
    out = sum;
    return true;
}

bool addFrame(const FieldValue* v, TraceFile& t) {
    TraceFrame f;
    f.index = v[0].count;
    f.startNs = v[1].number;
    f.wait = kFrameFields[6].choices[static_cast<size_t>(v[6].number)];
    f.freeRunning = v[9].number != 0;
    f.presentStatus = static_cast<int32_t>(v[10].number);
    f.leadNs = v[8].present ? v[8].number : 0;
    if (!fromStart(f.startNs, v[2], f.loopTopNs) || !fromStart(f.startNs, v[3], f.submitNs) ||
        !fromStart(f.startNs, v[4], f.presentNs) || !fromStart(f.startNs, v[5], f.vblankNs) ||
        !fromStart(f.startNs, v[7], f.predictedNs))
        return false;
    t.frames.push_back(f);
    return true;
}

// The record's values into its kind's vector; false when they do not fit together.
bool addRecord(char letter, const FieldValue* v, TraceFile& t) {
    switch (letter) {
        case kClockLine:
            t.clockSteadyNs = v[0].number;
            t.clockLocalMs = v[1].number;
            t.clockUnixMs = v[2].number;
            return true;
        case kFrameLine:
            return addFrame(v, t);
        case kMarkerLine:
            t.markers.push_back(TraceMarker{v[0].number, v[1].number, std::string(v[2].text)});
            return true;
        case kPanelLine: {
            const bool on = v[2].number == 1;
            if (on != v[4].present) return false;  // only the panels-on call has a mode status
            t.panels.push_back(TracePanelCall{v[0].number, v[1].number, on, int32_t(v[3].number),
                                              on ? int32_t(v[4].number) : 0});
            return true;
        }
        case kParkedLine:
            t.parked.push_back(v[0].number);
            return true;
        case kWakeLine:
            t.wakesSeen.push_back(v[0].number);
            return true;
        case kDstatLine:
            t.dstat.push_back(TraceDstat{v[0].number, uint16_t(v[1].number), uint16_t(v[2].number)});
            return true;
        case kFreeRunLine:
            t.freeRuns.push_back(TraceFreeRun{v[0].number, v[1].number == 1, v[2].number == 1});
            return true;
        case kPresentErrorLine:
            t.presentErrors.push_back(TracePresentError{v[0].number, v[1].count, int32_t(v[2].number)});
            return true;
        case kLinkLine:
            t.linkChanges.push_back(TraceLinkChange{v[0].number, v[1].number == 1});
            return true;
        case kDroppedLine:
        case kEndLine:
            t.dropped = v[1].count;
            if (letter == kEndLine) t.ended = true;
            return true;
        default:
            return false;
    }
}

bool readLine(std::string_view line, TraceFile& t) {
    const RecordLayout* layout = line.empty() ? nullptr : layoutOf(line[0]);
    FieldValue values[kMaxFields];
    return layout != nullptr && parseFields(line, *layout, values) && addRecord(layout->letter, values, t);
}

// The version of a first line "tessaray-trace VERSION"; 0 when it is not one.
int headerVersion(std::string_view first) {
    const std::string_view magic = kMagic;
    if (first.size() <= magic.size() || !first.starts_with(magic) || first[magic.size()] != ' ') return 0;
    const std::string_view text = first.substr(magic.size() + 1);
    int version = 0;
    const auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), version);
    return ec == std::errc() && at == text.data() + text.size() && version >= 1 ? version : 0;
}

}  // namespace

TraceRead parseTrace(std::string_view bytes, TraceFile& trace, std::string& error) {
    const size_t firstEnd = bytes.find('\n');
    const int version = firstEnd == std::string_view::npos ? 0 : headerVersion(bytes.substr(0, firstEnd));
    if (version == 0) {
        error = "not a tessaray trace (its first line is not \"" + std::string(kMagic) + " VERSION\")";
        return TraceRead::NotATrace;
    }
    if (version > kVersion) {
        error = "a trace of version " + std::to_string(version) + "; this tessaray-report reads version " +
                std::to_string(kVersion) + " at most";
        return TraceRead::NewerVersion;
    }
    trace.version = version;
    size_t at = firstEnd + 1;
    for (size_t number = 2; at < bytes.size(); ++number) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos) {
            trace.cut = true;  // the program was killed inside this line
            break;
        }
        std::string_view line = bytes.substr(at, end - at);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!readLine(line, trace)) {
            trace.badLines += 1;
            if (trace.firstBadLine == 0) trace.firstBadLine = number;
        }
        at = end + 1;
    }
    return TraceRead::Ok;
}

TraceRead readTraceFile(const std::string& path, TraceFile& trace, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path file(std::u8string(path.begin(), path.end()));
    std::error_code failed;
    const fs::file_status status = fs::status(file, failed);
    if (failed || !fs::exists(status)) {
        error = "cannot be read";
        return TraceRead::NotATrace;
    }
    if (!fs::is_regular_file(status)) {  // a device never ends; a pipe without a writer blocks the open
        error = "not a regular file (a device or a pipe): give a saved trace";
        return TraceRead::NotATrace;
    }
    if (fs::file_size(file, failed) > kMaxTraceBytes && !failed) {
        error = "larger than 64 MiB: not a tessaray trace";
        return TraceRead::NotATrace;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes;
    char buffer[1 << 16];
    while (in && bytes.size() <= kMaxTraceBytes) {
        in.read(buffer, sizeof buffer);
        bytes.append(buffer, size_t(in.gcount()));
    }
    if (bytes.size() > kMaxTraceBytes) {
        error = "larger than 64 MiB: not a tessaray trace";
        return TraceRead::NotATrace;
    }
    if (!in.eof()) {
        error = "cannot be read";
        return TraceRead::NotATrace;
    }
    trace.source = path;
    return parseTrace(bytes, trace, error);
}

}  // namespace corva::trace
