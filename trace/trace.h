// The frame-level trace, on request only (TESSARAY_TRACE_FILE): every frame and every
// panel, park, display-status, free-run, present-error and link event, with steady-clock
// time stamps, written to a file by a thread of its own. Without a trace every call here
// is one atomic load. With one, a call copies a fixed-size record into a preallocated
// ring: no lock, no allocation, never a wait (a full ring drops the record and counts it).
#pragma once

#include "trace/trace_record.h"

#include <cstdint>

namespace corva::trace {

// Traces the whole run to the file named by TESSARAY_TRACE_FILE (if set and not empty)
// while it lives. A file that cannot be written gets one line on standard error and the
// run goes on without a trace. Construct it before any thread that traces starts, destroy
// it after they have all ended.
class Session {
  public:
    explicit Session(const char* path);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool active() const { return active_; }

  private:
    bool active_ = false;
};

// Whether a trace is being written: lets a caller skip clock readings only the trace needs.
bool enabled();

// TESSARAY_TRACE_FILE, or nullptr.
const char* pathFromEnvironment();

void frame(const FrameTimes& frame);
void marker(const char* name, int64_t steadyNs, uint32_t localMsOfDay);
void panelPower(bool on, int64_t callNs, int64_t returnNs, int32_t powerStatus, int32_t modeStatus = 0);
void parked(int64_t ns);
void wakeSeen(int64_t ns);
void dstatChange(int64_t reportArrivalNs, uint16_t from, uint16_t to);
void freeRun(int64_t ns, bool started, bool announced);
void presentError(int64_t ns, uint64_t frameIndex, int32_t status);
void linkChange(int64_t ns, bool lost);

}  // namespace corva::trace
