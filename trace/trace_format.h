// The trace file, version 1: text, one record a line, fields separated by one blank, every
// line ended by '\n'. A file cut short (the program was killed) is read up to its last
// whole line. The first line names the format and its version; the letter that begins
// each later line names the record (docs/trace.md). Each record's fields are
// listed once below (name, type, unit); the writer here and the reader (trace_file.h) both
// go through these lists, so they cannot drift apart.
#pragma once

#include "trace/trace_record.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace corva::trace {

constexpr const char* kMagic = "tessaray-trace";
constexpr int kVersion = 1;

// Record letters.
constexpr char kClockLine = 'C';  // ties the steady clock to local time
constexpr char kFrameLine = 'F';
constexpr char kMarkerLine = 'M';
constexpr char kPanelLine = 'P';
constexpr char kParkedLine = 'K';
constexpr char kWakeLine = 'W';
constexpr char kDstatLine = 'S';
constexpr char kFreeRunLine = 'R';
constexpr char kPresentErrorLine = 'X';
constexpr char kLinkLine = 'L';
constexpr char kDroppedLine = 'D';  // records lost so far (the ring was full)
constexpr char kEndLine = 'E';      // the trace was closed in order

// The letters of the frame's vertical-blank wait, in VblankWait's order.
constexpr char kWaitSignalled = 's';
constexpr char kWaitTimedOut = 't';
constexpr char kWaitNone = 'n';

// The latest steady-clock time a trace can hold: 2^62 ns, 146 years after the clock's start
// (boot). A reader skips and counts a record with a time beyond it, or before zero.
constexpr int64_t kLatestNs = int64_t(1) << 62;

enum class FieldType : uint8_t {
    Time,         // steady-clock ns, 0 .. kLatestNs
    Offset,       // signed ns from the record's first field (a frame's start)
    OptOffset,    // an Offset, or "-" where there is none
    OptDuration,  // ns, 0 .. kLatestNs, or "-" where there is none
    Index,        // unsigned 64-bit count or index
    Status,       // signed 32-bit status
    Flag,         // 0 or 1
    TimeOfDay,    // hh:mm:ss.mmm, as milliseconds of the day
    Hex16,        // 0xHHHH
    Word,         // one of `choices` (blank-separated), as its position
    Letter,       // one of the letters of `choices`, as its position
    Name,         // a word without blanks, at most kNameBytes
    UnixMs,       // signed 64-bit milliseconds since 1970
};

constexpr size_t kNameBytes = sizeof(Record::name);

struct Field {
    std::string_view name;
    FieldType type;
    std::string_view unit;  // "ns", "ms" or "" (a count, a status, a word)
    std::string_view choices = {};
    bool optionalAtEnd = false;  // the last field, which a line may leave out
    std::string_view csv = {};   // frames: its column in tessaray-report --frames-csv
};

struct RecordLayout {
    char letter;
    std::string_view kind;
    std::span<const Field> fields;
};

inline constexpr Field kClockFields[] = {
    {"steady", FieldType::Time, "ns"},
    {"local_time", FieldType::TimeOfDay, "ms"},
    {"unix", FieldType::UnixMs, "ms"},
};
// A frame's times after its start are written as offsets from it: shorter lines.
inline constexpr Field kFrameFields[] = {
    {"index", FieldType::Index, "", {}, false, "frame"},
    {"start", FieldType::Time, "ns", {}, false, "start_ms"},  // after the just-in-time wait
    {"loop_top", FieldType::Offset, "ns", {}, false, "jit_wait_ms"},
    {"submit", FieldType::Offset, "ns", {}, false, "submit_ms"},
    {"present", FieldType::Offset, "ns", {}, false, "present_ms"},
    {"vblank", FieldType::OptOffset, "ns", {}, false, "vblank_ms"},
    {"wait", FieldType::Letter, "", "stn", false, "vblank_wait"},
    {"predicted", FieldType::OptOffset, "ns", {}, false, "predicted_display_ms"},
    {"lead", FieldType::OptDuration, "ns", {}, false, "lead_ms"},
    {"free_running", FieldType::Flag, "", {}, false, "free_running"},
    {"present_status", FieldType::Status, "", {}, false, "present_status"},
};
inline constexpr Field kMarkerFields[] = {
    {"time", FieldType::Time, "ns"},
    {"local_time", FieldType::TimeOfDay, "ms"},  // as its console line printed it
    {"name", FieldType::Name, ""},
};
inline constexpr Field kPanelFields[] = {
    {"call", FieldType::Time, "ns"},
    {"return", FieldType::Time, "ns"},
    {"power", FieldType::Word, "", "off on"},
    {"status", FieldType::Status, ""},
    {"mode_status", FieldType::Status, "", {}, true},  // panels on only
};
inline constexpr Field kInstantFields[] = {{"time", FieldType::Time, "ns"}};
inline constexpr Field kDstatFields[] = {
    {"time", FieldType::Time, "ns"},  // the telemetry report's arrival
    {"from", FieldType::Hex16, ""},
    {"to", FieldType::Hex16, ""},
};
inline constexpr Field kFreeRunFields[] = {
    {"time", FieldType::Time, "ns"},
    {"change", FieldType::Word, "", "end start"},
    {"announced", FieldType::Flag, ""},  // its console line was printed
};
inline constexpr Field kPresentErrorFields[] = {
    {"time", FieldType::Time, "ns"},
    {"frame", FieldType::Index, ""},
    {"status", FieldType::Status, ""},
};
inline constexpr Field kLinkFields[] = {
    {"time", FieldType::Time, "ns"},
    {"change", FieldType::Word, "", "back lost"},
};
inline constexpr Field kCountFields[] = {
    {"time", FieldType::Time, "ns"}, {"dropped", FieldType::Index, ""},  // records dropped so far
};

inline constexpr RecordLayout kRecordLayouts[] = {
    {kClockLine, "clock", kClockFields},
    {kFrameLine, "frame", kFrameFields},
    {kMarkerLine, "marker", kMarkerFields},
    {kPanelLine, "panel power", kPanelFields},
    {kParkedLine, "parked", kInstantFields},
    {kWakeLine, "wake seen", kInstantFields},
    {kDstatLine, "dstat change", kDstatFields},
    {kFreeRunLine, "free run", kFreeRunFields},
    {kPresentErrorLine, "present error", kPresentErrorFields},
    {kLinkLine, "link", kLinkFields},
    {kDroppedLine, "dropped", kCountFields},
    {kEndLine, "end", kCountFields},
};

// The layout of a record letter; null for a letter this version does not have.
const RecordLayout* layoutOf(char letter);

// One field's value: `number` for the signed types and positions, `count` for Index, `text`
// for Name. `present` false: "-" (optional offsets), or a trailing field left out.
struct FieldValue {
    int64_t number = 0;
    uint64_t count = 0;
    std::string_view text;
    bool present = true;
};

constexpr size_t kMaxFields = std::size(kFrameFields);

// Reads a line (without its '\n') of the layout's letter into values (one per field); false
// when a field is missing, extra, malformed or beyond its type's range.
bool parseFields(std::string_view line, const RecordLayout& layout, FieldValue (&values)[kMaxFields]);

// Each writes one whole line (with its '\n') into out and returns its length; 0 when it
// does not fit. None allocates.
size_t formatFields(char* out, size_t size, const RecordLayout& layout, const FieldValue* values);
size_t formatHeader(char* out, size_t size);
size_t formatClock(char* out, size_t size, int64_t steadyNs, uint32_t localMsOfDay, int64_t unixMs);
size_t formatRecord(char* out, size_t size, const Record& record);
size_t formatCount(char* out, size_t size, char letter, int64_t ns, uint64_t dropped);

}  // namespace corva::trace
