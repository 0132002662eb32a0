// Rebuilds one run from its lines, in the order the program printed them.
#pragma once

#include <cstdint>
#include <string_view>

#include "lines/printed_lines.h"
#include "report/log_model.h"

namespace corva::report {

// How the run ended, from its result line and failures: settled again when standard error
// appended after the run brings its failures.
RunEnd runEndOf(const LoggedRun& run);

class RunBuilder {
  public:
    RunBuilder(std::string_view source, size_t firstLine);

    // True when the line is one the program prints: entry is its line of the table
    // (lines::classify; nullptr for none). startStep is the line's step in the start
    // sequence (0 for every other line).
    bool feed(const lines::PrintedLine* entry, std::string_view line, size_t number, int startStep);

    // The furthest step of the start sequence this run has seen; every line after the
    // start sequence counts as beyond it.
    int furthestStep() const { return furthest_; }
    void countUnrecognised();

    LoggedRun finish();

  private:
    int64_t stamp(int64_t msOfDay);
    Event& event(EventKind kind, size_t line, int64_t ms = kNoTime);
    void failure(FailureKind kind, std::string_view text, size_t line, std::string_view call = {},
                 uint32_t status = 0, int sourceLine = -1);
    Cycle* current();

    bool read(const lines::PrintedLine& entry, std::string_view line, size_t number);
    bool byRole(const lines::PrintedLine& entry, std::string_view line, size_t number);
    bool marker(std::string_view line, size_t number);
    bool benchmarkLine(lines::LineId id, std::string_view line, size_t number);
    bool dstatChange(std::string_view line, size_t number);
    bool wakePhasesLine(std::string_view line, size_t number);
    bool statusLine(std::string_view line, size_t number);
    bool linkLine(lines::LineId id, std::string_view line, size_t number);
    bool presentLoopLine(lines::LineId id, std::string_view line, size_t number);
    bool callFailed(std::string_view line, size_t number);
    bool stepStatus(lines::LineId id, std::string_view line, size_t number);
    bool resultLine(lines::LineId id, std::string_view line, size_t number);

    void openFreeRun(int64_t ms, size_t line);
    void closeFreeRun(int64_t ms, size_t line);
    void settleOutcomes();
    void inferSettings();

    LoggedRun run_;
    const lines::PrintedLine* entry_ = nullptr;  // the line being read
    int furthest_ = 0;
    int64_t lastMs_ = kNoTime;  // the time of the last time-stamped line
    int64_t lastRaw_ = -1;      // its time of day as printed
    int64_t dayOffset_ = 0;
    int pendingLatency_ = -1;  // cycle index whose wake still waits for its latency line
    int pendingOn_ = -1;       // cycle index whose wake still waits for the displays
    int timedCycle_ = -1;      // cycle index whose latency line came last, for its phases
    bool freeRunOpen_ = false;
    int64_t coldOnMs_ = kNoTime;  // the displays' first coming on, before any cycle
};

}  // namespace corva::report
