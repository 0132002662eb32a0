#include "tests/support/prediction_hits.h"

namespace corva::test {

PredictionHits predictionHits(const sim::Timeline& timeline, const std::vector<int64_t>& displayTimes,
                              int64_t periodNs) {
    PredictionHits result;
    if (timeline.vblanks.empty()) return result;
    const int64_t firstIndex = int64_t(timeline.vblanks[0].index);
    for (size_t i = 0; i < timeline.presents.size() && i < displayTimes.size(); ++i) {
        const int64_t vblank = timeline.presents[i].shownAtVblank;
        if (displayTimes[i] == 0 || vblank < firstIndex) continue;
        const size_t at = size_t(vblank - firstIndex);
        if (at >= timeline.vblanks.size()) continue;
        ++result.anchored;
        const int64_t shownAt = timeline.vblanks[at].timeNs;
        if (displayTimes[i] >= shownAt && displayTimes[i] < shownAt + periodNs) ++result.hits;
    }
    return result;
}

}  // namespace corva::test
