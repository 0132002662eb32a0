#include "trace/trace_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace corva::trace {

namespace {

size_t fitted(int written, size_t size) {
    return written > 0 && static_cast<size_t>(written) < size ? static_cast<size_t>(written) : 0;
}

// The choice at `position` of a blank-separated list; empty when there is none.
std::string_view word(std::string_view choices, int64_t position) {
    for (int64_t i = 0; !choices.empty(); ++i) {
        const size_t end = std::min(choices.find(' '), choices.size());
        if (i == position) return choices.substr(0, end);
        choices.remove_prefix(end == choices.size() ? end : end + 1);
    }
    return {};
}

template <typename T>
bool decimal(std::string_view text, T& value) {
    if (text.empty() || text.front() == '+') return false;
    const auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && at == text.data() + text.size();
}

// "hh:mm:ss.mmm", two digits each but the milliseconds' three.
bool timeOfDay(std::string_view text, int64_t& ms) {
    if (text.size() != 12 || text[2] != ':' || text[5] != ':' || text[8] != '.') return false;
    int h = 0, m = 0, s = 0, milli = 0;
    if (!decimal(text.substr(0, 2), h) || !decimal(text.substr(3, 2), m) || !decimal(text.substr(6, 2), s) ||
        !decimal(text.substr(9, 3), milli) || h > 23 || m > 59 || s > 59)
        return false;
    ms = ((int64_t(h) * 60 + m) * 60 + s) * 1000 + milli;
    return true;
}

bool parseField(std::string_view text, const Field& field, FieldValue& value) {
    switch (field.type) {
        case FieldType::Time:
            return decimal(text, value.number) && value.number >= 0 && value.number <= kLatestNs;
        case FieldType::OptOffset:
        case FieldType::OptDuration:
            if (text == "-") {
                value.present = false;
                return true;
            }
            if (field.type == FieldType::OptDuration)
                return decimal(text, value.number) && value.number >= 0 && value.number <= kLatestNs;
            return decimal(text, value.number);
        case FieldType::Offset:
        case FieldType::UnixMs:
            return decimal(text, value.number);
        case FieldType::Index:
            return decimal(text, value.count);
        case FieldType::Status: {
            int32_t status = 0;
            if (!decimal(text, status)) return false;
            value.number = status;
            return true;
        }
        case FieldType::Flag:
            value.number = text == "1" ? 1 : 0;
            return text == "0" || text == "1";
        case FieldType::TimeOfDay:
            return timeOfDay(text, value.number);
        case FieldType::Hex16: {
            uint16_t bits = 0;
            if (text.size() != 6 || !text.starts_with("0x")) return false;
            const auto [at, ec] = std::from_chars(text.data() + 2, text.data() + 6, bits, 16);
            value.number = bits;
            return ec == std::errc() && at == text.data() + 6;
        }
        case FieldType::Word:
            for (int64_t i = 0; !word(field.choices, i).empty(); ++i)
                if (word(field.choices, i) == text) {
                    value.number = i;
                    return true;
                }
            return false;
        case FieldType::Letter: {
            const size_t at = text.size() == 1 ? field.choices.find(text[0]) : std::string_view::npos;
            value.number = static_cast<int64_t>(at);
            return at != std::string_view::npos;
        }
        case FieldType::Name:
            value.text = text;
            return !text.empty() && text.size() <= kNameBytes;
    }
    return false;
}

// Appends one field's text at out[at...]; false when it does not fit.
bool appendField(char* out, size_t size, size_t& at, const Field& field, const FieldValue& value) {
    char* const end = out + size;
    char* to = out + at;
    std::to_chars_result r{to, std::errc()};
    const auto text = [&](std::string_view s) {
        if (s.size() > size_t(end - to)) return std::to_chars_result{end, std::errc::value_too_large};
        std::memcpy(to, s.data(), s.size());
        return std::to_chars_result{to + s.size(), std::errc()};
    };
    switch (field.type) {
        case FieldType::Time:
        case FieldType::Offset:
        case FieldType::OptOffset:
        case FieldType::OptDuration:
        case FieldType::Status:
        case FieldType::Flag:
        case FieldType::UnixMs:
            r = value.present ? std::to_chars(to, end, value.number) : text("-");
            break;
        case FieldType::Index:
            r = std::to_chars(to, end, value.count);
            break;
        case FieldType::TimeOfDay: {
            const uint64_t ms = static_cast<uint64_t>(value.number);
            const int n =
                std::snprintf(to, size_t(end - to), "%02u:%02u:%02u.%03u", unsigned(ms / 3600000),
                              unsigned(ms / 60000 % 60), unsigned(ms / 1000 % 60), unsigned(ms % 1000));
            r = n > 0 && n < end - to ? std::to_chars_result{to + n, std::errc()}
                                      : std::to_chars_result{end, std::errc::value_too_large};
            break;
        }
        case FieldType::Hex16: {
            const int n = std::snprintf(to, size_t(end - to), "0x%04x", unsigned(value.number & 0xFFFF));
            r = n > 0 && n < end - to ? std::to_chars_result{to + n, std::errc()}
                                      : std::to_chars_result{end, std::errc::value_too_large};
            break;
        }
        case FieldType::Word:
            r = text(word(field.choices, value.number));
            break;
        case FieldType::Letter:
            r = text(field.choices.substr(static_cast<size_t>(value.number) % field.choices.size(), 1));
            break;
        case FieldType::Name:
            r = text(value.text);
            break;
    }
    if (r.ec != std::errc()) return false;
    at = size_t(r.ptr - out);
    return true;
}

std::string_view nameOf(const Record& r) {
    const void* end = std::memchr(r.name, 0, sizeof r.name);
    return {r.name, end != nullptr ? size_t(static_cast<const char*>(end) - r.name) : sizeof r.name};
}

FieldValue number(int64_t n) {
    FieldValue v;
    v.number = n;
    return v;
}

FieldValue count(uint64_t n) {
    FieldValue v;
    v.count = n;
    return v;
}

FieldValue optional(bool present, int64_t n) {
    FieldValue v = number(n);
    v.present = present;
    return v;
}

size_t formatFrame(char* out, size_t size, const Record& r) {
    const FrameTimes f = frameTimes(r);
    const int64_t wait =
        r.flag2 <= uint8_t(VblankWait::NoWaitable) ? r.flag2 : int64_t(VblankWait::NoWaitable);
    const FieldValue values[] = {count(f.index),
                                 number(f.startNs),
                                 number(f.loopTopNs - f.startNs),
                                 number(f.submitNs - f.startNs),
                                 number(f.presentNs - f.startNs),
                                 optional(f.wait != VblankWait::NoWaitable, f.vblankNs - f.startNs),
                                 number(wait),
                                 optional(f.predictedNs != 0, f.predictedNs - f.startNs),
                                 optional(f.leadNs != 0, f.leadNs),
                                 number(f.freeRunning ? 1 : 0),
                                 number(f.presentStatus)};
    return formatFields(out, size, *layoutOf(kFrameLine), values);
}

}  // namespace

const RecordLayout* layoutOf(char letter) {
    for (const RecordLayout& layout : kRecordLayouts)
        if (layout.letter == letter) return &layout;
    return nullptr;
}

bool parseFields(std::string_view line, const RecordLayout& layout, FieldValue (&values)[kMaxFields]) {
    if (line.size() < 2 || line[0] != layout.letter || line[1] != ' ') return false;
    std::string_view rest = line.substr(2);
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        values[i] = FieldValue{};
        const Field& field = layout.fields[i];
        if (rest.empty() && field.optionalAtEnd) {
            values[i].present = false;
            continue;
        }
        const size_t end = std::min(rest.find(' '), rest.size());
        if (end == 0 || !parseField(rest.substr(0, end), field, values[i])) return false;
        const bool last = i + 1 == layout.fields.size();
        if (end < rest.size() && (last || end + 1 == rest.size())) return false;  // extra or trailing blank
        rest.remove_prefix(end == rest.size() ? end : end + 1);
        if (rest.empty() && !last && !layout.fields[i + 1].optionalAtEnd) return false;
    }
    return rest.empty();
}

size_t formatFields(char* out, size_t size, const RecordLayout& layout, const FieldValue* values) {
    if (size < 3) return 0;
    out[0] = layout.letter;
    size_t at = 1;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        if (layout.fields[i].optionalAtEnd && !values[i].present) break;
        if (at + 1 >= size) return 0;
        out[at++] = ' ';
        if (!appendField(out, size, at, layout.fields[i], values[i])) return 0;
    }
    if (at + 1 >= size) return 0;
    out[at++] = '\n';
    out[at] = '\0';
    return at;
}

size_t formatHeader(char* out, size_t size) {
    return fitted(std::snprintf(out, size, "%s %d\n", kMagic, kVersion), size);
}

size_t formatClock(char* out, size_t size, int64_t steadyNs, uint32_t localMsOfDay, int64_t unixMs) {
    const FieldValue values[] = {number(steadyNs), number(localMsOfDay), number(unixMs)};
    return formatFields(out, size, *layoutOf(kClockLine), values);
}

size_t formatCount(char* out, size_t size, char letter, int64_t ns, uint64_t dropped) {
    const FieldValue values[] = {number(ns), count(dropped)};
    return formatFields(out, size, *layoutOf(letter), values);
}

size_t formatRecord(char* out, size_t size, const Record& r) {
    const int64_t t = r.t[0];
    switch (r.kind) {
        case Kind::Frame:
            return formatFrame(out, size, r);
        case Kind::Marker: {
            FieldValue name;
            name.text = nameOf(r);
            const FieldValue values[] = {number(t), number(int64_t(r.index)), name};
            return formatFields(out, size, *layoutOf(kMarkerLine), values);
        }
        case Kind::PanelPower: {
            const FieldValue values[] = {number(t), number(r.t[1]), number(r.flag != 0 ? 1 : 0),
                                         number(r.status), optional(r.flag != 0, r.status2)};
            return formatFields(out, size, *layoutOf(kPanelLine), values);
        }
        case Kind::Parked:
        case Kind::WakeSeen: {
            const FieldValue values[] = {number(t)};
            return formatFields(out, size, *layoutOf(r.kind == Kind::Parked ? kParkedLine : kWakeLine),
                                values);
        }
        case Kind::Dstat: {
            const FieldValue values[] = {number(t), number(r.from), number(r.to)};
            return formatFields(out, size, *layoutOf(kDstatLine), values);
        }
        case Kind::FreeRun: {
            const FieldValue values[] = {number(t), number(r.flag != 0 ? 1 : 0),
                                         number(r.flag2 != 0 ? 1 : 0)};
            return formatFields(out, size, *layoutOf(kFreeRunLine), values);
        }
        case Kind::PresentError: {
            const FieldValue values[] = {number(t), count(r.index), number(r.status)};
            return formatFields(out, size, *layoutOf(kPresentErrorLine), values);
        }
        case Kind::Link: {
            const FieldValue values[] = {number(t), number(r.flag != 0 ? 1 : 0)};
            return formatFields(out, size, *layoutOf(kLinkLine), values);
        }
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
