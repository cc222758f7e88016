// The engine's choice among the orientations an item may take: the one that
// fits the free extent at a placement point best.
#pragma once

#include <utility>

#include "model/orientations.hpp"
#include "model/rotation.hpp"

namespace stowvex {

// Three measures in ascending order; none may be NaN. An item fits an extent
// in some orientation only if its sorted measures are each at most the
// extent's sorted measures; with all six orientations allowed that is also
// enough.
inline void sort_ascending(double a, double b, double c, double out[3]) {
    if (b < a) std::swap(a, b);
    if (c < b) std::swap(b, c);
    if (b < a) std::swap(a, b);
    out[0] = a;
    out[1] = b;
    out[2] = c;
}

// The allowed orientation (an index into kOrientations) that fits the
// available extent with the smallest width slack, then the smallest length
// slack; the earlier one wins a tie, and depth slack is never compared. The
// item's measures are (width, length, depth); -1 when no allowed orientation
// fits.
int best_orientation(const double dims[3], Rotation rotation, double available_width,
                     double available_length, double available_depth);

// Whether any allowed orientation fits the available extent.
bool fits_some_orientation(double width, double length, double depth, Rotation rotation,
                           double available_width, double available_length, double available_depth);

}  // namespace stowvex
