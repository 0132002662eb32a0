#include "tools/pacing_figures.h"

#include <algorithm>
#include <cmath>

namespace corva::bench {

namespace {

const sim::VblankRecord* vblankAt(const sim::Timeline& timeline, int64_t index) {
    if (timeline.vblanks.empty() || index < 0) return nullptr;
    const int64_t offset = index - static_cast<int64_t>(timeline.vblanks.front().index);
    if (offset < 0 || offset >= static_cast<int64_t>(timeline.vblanks.size())) return nullptr;
    return &timeline.vblanks[static_cast<size_t>(offset)];
}

// Mean and 99th percentile (nearest rank); sorts the values.
void summarise(std::vector<double>& values, double& mean, double& p99) {
    if (values.empty()) return;
    double sum = 0.0;
    for (double value : values) sum += value;
    mean = sum / static_cast<double>(values.size());
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(values.size())));
    p99 = values[std::max<size_t>(rank, 1) - 1];
}

}  // namespace

PacingFigures computePacingFigures(const std::vector<FrameSample>& frames, size_t firstFrame,
                                   const sim::Timeline& timeline, int64_t periodNs) {
    PacingFigures figures;
    const size_t lastFrame = std::min(frames.size(), timeline.presents.size());
    if (firstFrame >= lastFrame) return figures;

    std::vector<double> startToScanOutMs;
    std::vector<double> startToPresentMs;
    startToScanOutMs.reserve(lastFrame - firstFrame);
    startToPresentMs.reserve(lastFrame - firstFrame);
    for (size_t k = firstFrame; k < lastFrame; ++k) {
        ++figures.frames;
        startToPresentMs.push_back(static_cast<double>(timeline.presents[k].timeNs - frames[k].startNs) /
                                   1e6);
        const sim::VblankRecord* shown = vblankAt(timeline, timeline.presents[k].shownAtVblank);
        const bool anchored = frames[k].displayTimeNs != 0;
        figures.anchored += anchored ? 1 : 0;
        if (shown == nullptr) continue;  // replaced before any vertical blank scanned it out
        ++figures.shown;
        startToScanOutMs.push_back(static_cast<double>(shown->timeNs - frames[k].startNs) / 1e6);
        if (anchored && frames[k].displayTimeNs >= shown->timeNs &&
            frames[k].displayTimeNs < shown->timeNs + periodNs)
            ++figures.hits;
    }

    const int64_t windowStart = timeline.presents[firstFrame].timeNs;
    const int64_t windowEnd = timeline.presents[lastFrame - 1].timeNs;
    for (const sim::VblankRecord& vblank : timeline.vblanks) {
        if (vblank.timeNs <= windowStart || vblank.timeNs > windowEnd) continue;
        ++figures.vblanks;
        if (vblank.newFrame)
            ++figures.newFrameVblanks;
        else
            ++figures.repeatVblanks;
    }

    summarise(startToScanOutMs, figures.meanStartToScanOutMs, figures.p99StartToScanOutMs);
    summarise(startToPresentMs, figures.meanStartToPresentMs, figures.p99StartToPresentMs);
    return figures;
}

}  // namespace corva::bench
