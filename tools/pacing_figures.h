// Pacing figures of one present loop run, from what the loop's frames said (start and
// predicted display time) and what the simulated panel really scanned out.
#pragma once

#include "sim/driver/sim_display.h"

#include <cstdint>
#include <vector>

namespace corva::bench {

struct FrameSample {
    int64_t startNs = 0;        // steady clock at the start of the frame's recording
    int64_t displayTimeNs = 0;  // the loop's prediction; 0 for frames not anchored
};

struct PacingFigures {
    uint64_t frames = 0;           // frames presented in the window
    uint64_t vblanks = 0;          // vertical blanks in the window
    uint64_t newFrameVblanks = 0;  // ... that scanned out a frame not shown before
    uint64_t repeatVblanks = 0;    // ... that scanned out the previous frame again
    uint64_t anchored = 0;         // frames with a predicted display time
    uint64_t hits = 0;             // ... shown on the vertical blank whose scan-out holds that time
    uint64_t shown = 0;            // frames that reached the panel
    double meanStartToScanOutMs = 0.0;
    double p99StartToScanOutMs = 0.0;
    double meanStartToPresentMs = 0.0;  // the frame's work: recording, GPU, present call
    double p99StartToPresentMs = 0.0;
};

// Frames [firstFrame, frames.size()) form the steady-state window; frame k is the k-th
// present of the timeline. The window's vertical blanks are those after firstFrame's
// present up to the last one's scan-out.
PacingFigures computePacingFigures(const std::vector<FrameSample>& frames, size_t firstFrame,
                                   const sim::Timeline& timeline, int64_t periodNs);

}  // namespace corva::bench
