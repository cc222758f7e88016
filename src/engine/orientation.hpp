// Orientations an item may take under its rotation freedom, and the choice of
// the best-fitting one for the free extent at a placement point.
#pragma once

#include <cstddef>
#include <utility>

#include "model/item.hpp"

namespace stowvex {

// One way of turning an item, as a row of the orientation table: its label and
// which item dimension (0 width, 1 length, 2 depth) lies along each box axis.
struct Layout {
    const char* label;
    int along_width;
    int along_length;
    int along_depth;
};

// NEVER allows the first row, KEEP_FLAT the first two, anything else all six.
inline constexpr Layout kLayouts[6] = {
    {"WLD", 0, 1, 2}, {"LWD", 1, 0, 2}, {"WDL", 0, 2, 1},
    {"LDW", 1, 2, 0}, {"DWL", 2, 0, 1}, {"DLW", 2, 1, 0},
};

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

// How many rows of the table, from the first, a rotation freedom allows.
std::size_t layout_count(Rotation rotation);

// The allowed row that fits the available extent with the smallest width
// slack, then the smallest length slack; the earlier row wins a tie, and
// depth slack is never compared. The item's measures are (width, length,
// depth); -1 when no allowed row fits.
int best_layout(const double dims[3], Rotation rotation, double available_width,
                double available_length, double available_depth);

// Whether any allowed row fits the available extent.
bool fits_some_orientation(double width, double length, double depth, Rotation rotation,
                           double available_width, double available_length, double available_depth);

}  // namespace stowvex
