#include "prox/lower_hull.h"

namespace corva::prox {

size_t lowerHull(const int64_t* place, const int64_t* height, size_t count, size_t* corners) {
    // Going from `from` by `via` to `to` turns left: `via` stays a corner.
    auto turnsUp = [&](size_t from, size_t via, size_t to) {
        return double(place[via] - place[from]) * double(height[to] - height[from]) -
                   double(height[via] - height[from]) * double(place[to] - place[from]) >
               0.0;
    };
    size_t found = 0;
    for (size_t i = 0; i < count; ++i) {
        while (found >= 2 && !turnsUp(corners[found - 2], corners[found - 1], i)) --found;
        corners[found++] = i;
    }
    return found;
}

}  // namespace corva::prox
