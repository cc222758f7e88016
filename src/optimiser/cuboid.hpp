// Points and axis-aligned cuboids in the frame of one box: x along its width,
// y along its length, z up. Cuboids are open at their faces, so two cuboids
// that only touch do not overlap.
#pragma once

#include <array>

namespace stowvex::optimiser {

using Vec3 = std::array<double, 3>;

struct Cuboid {
    Vec3 low;   // the corner with the smallest coordinates
    Vec3 high;  // the opposite corner

    double extent(int axis) const { return high[axis] - low[axis]; }
    double volume() const { return extent(0) * extent(1) * extent(2); }
};

inline bool overlaps(const Cuboid& a, const Cuboid& b) {
    for (int k = 0; k < 3; ++k) {
        if (!(a.low[k] < b.high[k] && b.low[k] < a.high[k])) return false;
    }
    return true;
}

inline bool contains(const Cuboid& outer, const Cuboid& inner) {
    for (int k = 0; k < 3; ++k) {
        if (inner.low[k] < outer.low[k] || inner.high[k] > outer.high[k]) return false;
    }
    return true;
}

// Area shared by the x-y footprints of two cuboids (0 when they do not meet).
inline double footprint_overlap(const Cuboid& a, const Cuboid& b) {
    const double dx = (a.high[0] < b.high[0] ? a.high[0] : b.high[0]) -
                      (a.low[0] > b.low[0] ? a.low[0] : b.low[0]);
    const double dy = (a.high[1] < b.high[1] ? a.high[1] : b.high[1]) -
                      (a.low[1] > b.low[1] ? a.low[1] : b.low[1]);
    return dx > 0.0 && dy > 0.0 ? dx * dy : 0.0;
}

}  // namespace stowvex::optimiser
