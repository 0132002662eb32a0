// The lower convex hull of a few points on a grid, shared by the interval's meter and the
// displays-on edge's send delay bound.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::prox {

// The lower convex hull of the points (place[i], height[i]), i < count, places increasing:
// writes its corners' indexes to `corners` (room for `count`), left to right, and returns how
// many there are. Sent on a grid and read at or after it, reports' arrivals lie on or above
// a line; the corners are the reports read promptly.
size_t lowerHull(const int64_t* place, const int64_t* height, size_t count, size_t* corners);

}  // namespace corva::prox
