// One entry of the frame-level trace: a fixed-size record, so that the threads that
// produce them (the present loop above all) copy it into a preallocated ring and never
// allocate. Times are steady-clock nanoseconds.
#pragma once

#include <cstdint>

namespace corva::trace {

enum class Kind : uint8_t {
    Frame,         // one presented frame (FrameTimes)
    Marker,        // an event-marker line: name, local time of day
    PanelPower,    // the panels-off or panels-on driver calls and their statuses
    Parked,        // the loop published parked
    WakeSeen,      // the loop saw the wake request and leaves the parked wait
    Dstat,         // the display-status word changed in a telemetry report
    FreeRun,       // free-run started or ended
    PresentError,  // a present that failed
    Link,          // the proximity link was lost or came back
};

// How the wait for the vertical blank after a present ended.
enum class VblankWait : uint8_t { Signalled, TimedOut, NoWaitable };

struct FrameTimes {
    uint64_t index = 0;
    int64_t loopTopNs = 0;
    int64_t startNs = 0;      // after the just-in-time wait: recording begins
    int64_t submitNs = 0;     // the command list executed and its fence reached
    int64_t presentNs = 0;    // the present call returned
    int64_t vblankNs = 0;     // the wait for the vertical blank returned
    int64_t predictedNs = 0;  // predicted display time; 0: none (not anchored)
    int64_t leadNs = 0;       // just-in-time lead used; 0: no just-in-time wait
    VblankWait wait = VblankWait::Signalled;
    bool freeRunning = false;
    int32_t presentStatus = 0;
};

struct Record {
    Kind kind = Kind::Frame;
    uint8_t flag = 0;     // Frame: free-running; PanelPower: on; FreeRun: started; Link: lost
    uint8_t flag2 = 0;    // Frame: VblankWait; FreeRun: announced on the console
    uint16_t from = 0;    // Dstat
    uint16_t to = 0;      // Dstat
    int32_t status = 0;   // Frame, PanelPower (power), PresentError
    int32_t status2 = 0;  // PanelPower on: the mode-setting status
    uint64_t index = 0;   // Frame, PresentError: frame index; Marker: local ms of the day
    int64_t t[7] = {};    // t[0] is the record's time; Frame: the FrameTimes in order
    char name[24] = {};   // Marker
};

Record frameRecord(const FrameTimes& frame);
FrameTimes frameTimes(const Record& record);

}  // namespace corva::trace
