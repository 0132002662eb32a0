// Rebuilds one run from its lines, in the order the program printed them.
#pragma once

#include <cstdint>
#include <string_view>

#include "lines/line_classify.h"
#include "lines/printed_lines.h"
#include "report/log_model.h"

namespace corva::report {

// How the run ended, from its result line and failures: settled again when standard error
// appended after the run brings its failures.
RunEnd runEndOf(const LoggedRun& run);

class RunBuilder {
  public:
    RunBuilder(std::string_view source, size_t firstLine);

    // True when the line is one the program prints: `line` as lines::classify scanned it (its
    // entry nullptr for none). startStep is the line's step in the start sequence
    // (lines::startStepOf; 0 for every other line).
    bool feed(const lines::ScannedLine& line, size_t number, int startStep);

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

    // The handlers, one per line of the table (read() lists them): each reads the fields its
    // line scanned.
    bool read(const lines::ScannedLine& line, size_t number);
    bool byRole(const lines::ScannedLine& line, size_t number);
    bool eventOnly(const lines::ScannedLine& line, size_t number);
    bool note(const lines::ScannedLine& line, size_t number);
    bool presentNote(const lines::ScannedLine& line, size_t number);
    bool marker(const lines::ScannedLine& line, size_t number);
    bool cycle(const lines::ScannedLine& line, size_t number);
    bool cycleAbandoned(const lines::ScannedLine& line, size_t number);
    bool benchIncomplete(const lines::ScannedLine& line, size_t number);
    bool wakeLatency(const lines::ScannedLine& line, size_t number);
    bool wakeLatencyDiscarded(const lines::ScannedLine& line, size_t number);
    bool wakePhasesLine(const lines::ScannedLine& line, size_t number);
    bool dstatChange(const lines::ScannedLine& line, size_t number);
    bool statusLine(const lines::ScannedLine& line, size_t number);
    bool proxUp(const lines::ScannedLine& line, size_t number);
    bool proxUnavailable(const lines::ScannedLine& line, size_t number);
    bool bypass(const lines::ScannedLine& line, size_t number);
    bool bypassRestored(const lines::ScannedLine& line, size_t number);
    bool mcuTelemetry(const lines::ScannedLine& line, size_t number);
    bool mcuBypassResent(const lines::ScannedLine& line, size_t number);
    bool mcuLost(const lines::ScannedLine& line, size_t number);
    bool freeRunStart(const lines::ScannedLine& line, size_t number);
    bool freeRunOver(const lines::ScannedLine& line, size_t number);
    bool driverVersion(const lines::ScannedLine& line, size_t number);
    bool usingMode(const lines::ScannedLine& line, size_t number);
    bool presentFailed(const lines::ScannedLine& line, size_t number);
    bool panelsOff(const lines::ScannedLine& line, size_t number);
    bool panelsOn(const lines::ScannedLine& line, size_t number);
    bool deviceRemoved(const lines::ScannedLine& line, size_t number);
    bool callFailed(const lines::ScannedLine& line, size_t number);
    bool stepStatus(const lines::ScannedLine& line, size_t number);
    bool presentResult(const lines::ScannedLine& line, size_t number);
    bool runResult(const lines::ScannedLine& line, size_t number);

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
