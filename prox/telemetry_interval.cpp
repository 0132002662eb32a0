#include "prox/telemetry_interval.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "prox/lower_hull.h"

namespace corva::prox {

namespace {

constexpr size_t kReports = TelemetryIntervalMeter::kReports;
using Series = std::array<int64_t, kReports>;

// How many of the gaps (from the second on) lie within a quarter of `typical` of it.
size_t regularAbout(const Series& gaps, int64_t typical) {
    size_t regular = 0;
    for (size_t i = 1; i < kReports; ++i) regular += std::abs(gaps[i] - typical) <= typical / 4 ? 1 : 0;
    return regular;
}

// Each report's place in the stream: a gap of m typical gaps (m >= 2, to within a quarter
// of one) is reports lost on the way, unless the next gap is short (a late read that the
// reader made up for).
Series placesInStream(const Series& arrivals, int64_t askedNs) {
    Series gaps{};
    for (size_t i = 1; i < kReports; ++i) gaps[i] = arrivals[i] - arrivals[i - 1];
    Series sorted = gaps;
    std::sort(sorted.begin() + 1, sorted.end());
    // Only in a stream read report by report: most gaps within a quarter of the typical one
    // (after a stalled reader, the gaps say nothing about the reports' places). The typical
    // gap is the interval asked for when three in five gaps lie about it (a poll period a
    // little shorter than the interval holds every few reports to the poll after: the
    // commonest gap is then the poll period), else the median one, about which three in four
    // must lie.
    const bool asked = askedNs > 0 && regularAbout(gaps, askedNs) * 5 >= (kReports - 1) * 3;
    const int64_t typical = asked ? askedNs : sorted[kReports / 2];
    const bool clean = asked || (typical > 0 && regularAbout(gaps, typical) * 4 >= (kReports - 1) * 3);
    Series place{};
    for (size_t i = 1; i < kReports; ++i) {
        int64_t step = 1;
        if (clean) {
            const int64_t typicalGaps = (gaps[i] + typical / 2) / typical;
            const bool madeUp = i + 1 < kReports && gaps[i + 1] < typical / 2;
            if (typicalGaps >= 2 && typicalGaps <= 4 &&
                std::abs(gaps[i] - typicalGaps * typical) <= typical / 4 && !madeUp)
                step = typicalGaps;
        }
        place[i] = place[i - 1] + step;
    }
    return place;
}

}  // namespace

bool TelemetryIntervalMeter::add(int64_t arrivalNs) {
    arrivals_[count_++] = arrivalNs;
    if (count_ < kReports) return false;
    count_ = 0;
    const Series place = placesInStream(arrivals_, askedNs_);
    // The lower convex hull of (place, arrival): its corners are reports read promptly.
    std::array<size_t, kReports> hull{};
    const size_t corners = lowerHull(place.data(), arrivals_.data(), kReports, hull.data());
    auto y = [&](size_t i) { return double(arrivals_[i] - arrivals_[0]); };
    auto x = [&](size_t i) { return double(place[i]); };
    // The edge over the middle report: its slope is the interval.
    const double middle = x(kReports - 1) / 2.0;
    size_t edge = 0;
    while (edge + 2 < corners && x(hull[edge + 1]) < middle) ++edge;
    const size_t from = hull[edge];
    const size_t to = hull[edge + 1];
    measuredMs_ = (y(to) - y(from)) / (x(to) - x(from)) / 1e6;
    return true;
}

bool intervalDiffers(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) > double(requestedMs) / 2.0;
}

bool intervalKept(double measuredMs, uint16_t requestedMs) {
    return std::fabs(measuredMs - double(requestedMs)) <= double(requestedMs) / 10.0;
}

}  // namespace corva::prox
