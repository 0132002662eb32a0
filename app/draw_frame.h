// The frame content: left half opaque white, right half opaque black.
#pragma once

#include "present/present_backend.h"

#include <atomic>

namespace corva {

// Records the two clears; prints FIRST_DRAW once; passes a raised StopFlag on to the
// presenter. Holds two references, so storing it in a FrameCallback allocates nothing.
class DrawFrame {
  public:
    DrawFrame(std::atomic<bool>& firstDrawDone, PresentBackend& presenter)
        : firstDrawDone_(&firstDrawDone), presenter_(&presenter) {}
    void operator()(const FrameContext& frame) const;

  private:
    std::atomic<bool>* firstDrawDone_;
    PresentBackend* presenter_;
};

// The two halves as D3D12 rectangles (right and bottom exclusive).
struct FrameHalves {
    D3D12_RECT white;
    D3D12_RECT black;
};
FrameHalves splitFrame(int32_t width, int32_t height);

}  // namespace corva
