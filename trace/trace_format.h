// The trace file, version 1: text, one record a line, fields separated by one blank, every
// line ended by '\n'. A file cut short (the program was killed) is read up to its last
// whole line. The first line names the format and its version; the letter that begins
// each later line names the record (README: "Frame-level trace"). The writer and
// tessaray-report's reader share these names.
#pragma once

#include "trace/trace_record.h"

#include <cstddef>
#include <cstdint>

namespace corva::trace {

constexpr const char* kMagic = "tessaray-trace";
constexpr int kVersion = 1;

// Record letters.
constexpr char kClockLine = 'C';  // C steady_ns hh:mm:ss.mmm unix_ms: ties the steady clock to local time
constexpr char kFrameLine = 'F';
constexpr char kMarkerLine = 'M';
constexpr char kPanelLine = 'P';
constexpr char kParkedLine = 'K';
constexpr char kWakeLine = 'W';
constexpr char kDstatLine = 'S';
constexpr char kFreeRunLine = 'R';
constexpr char kPresentErrorLine = 'X';
constexpr char kLinkLine = 'L';
constexpr char kDroppedLine = 'D';  // D ns dropped_total: records lost so far (the ring was full)
constexpr char kEndLine = 'E';      // E ns dropped_total: the trace was closed in order

// The letters of the frame's vertical-blank wait.
constexpr char kWaitSignalled = 's';
constexpr char kWaitTimedOut = 't';
constexpr char kWaitNone = 'n';

// Each writes one whole line (with its '\n') into out and returns its length; 0 when it
// does not fit. None allocates.
size_t formatHeader(char* out, size_t size);
size_t formatClock(char* out, size_t size, int64_t steadyNs, uint32_t localMsOfDay, int64_t unixMs);
size_t formatRecord(char* out, size_t size, const Record& record);
size_t formatCount(char* out, size_t size, char letter, int64_t ns, uint64_t dropped);

}  // namespace corva::trace
