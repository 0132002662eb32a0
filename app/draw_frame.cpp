#include "app/draw_frame.h"

#include "app/shared_state.h"
#include "lines/printed_lines.h"

namespace corva {

namespace {
const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const float kBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
}  // namespace

FrameHalves splitFrame(int32_t width, int32_t height) {
    const int32_t half = width / 2;
    return {{0, 0, half, height}, {half, 0, width, height}};
}

void DrawFrame::operator()(const FrameContext& frame) const {
    if (!firstDrawDone_->exchange(true)) EventMarker(lines::kFirstDraw);
    const FrameHalves halves = splitFrame(frame.width, frame.height);
    frame.list->ClearRenderTargetView(*frame.rtv, kWhite, 1, &halves.white);
    frame.list->ClearRenderTargetView(*frame.rtv, kBlack, 1, &halves.black);
    if (StopFlag.load()) presenter_->requestStop();
}

}  // namespace corva
