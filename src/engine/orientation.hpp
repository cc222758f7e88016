// Orientations an item may take under its rotation freedom, and the choice of
// the best-fitting one for the free extent at a placement point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/item.hpp"

namespace stowvex {

// One way of turning an item: its extents along the box's width, length and
// depth axes and the label naming which item dimension lies along each axis.
struct OrientationCandidate {
    ItemPtr item;
    double width;
    double length;
    double depth;
    std::string orientation;
};

// The orientations the item's rotation freedom allows: "WLD" for NEVER, then
// "LWD" for KEEP_FLAT, then "WDL", "LDW", "DWL", "DLW" for anything else.
// Equal-sized candidates are kept.
std::vector<OrientationCandidate> orientations_of(const ItemPtr& item);

// The allowed orientation that fits the available extent with the smallest
// width slack, then the smallest length slack; the earlier candidate wins a
// tie. Nothing when no allowed orientation fits.
std::optional<OrientationCandidate> best_orientation(const ItemPtr& item, double available_width,
                                                     double available_length,
                                                     double available_depth);

// One way of turning an item, as a row of the orientation table: its label and
// which item dimension (0 width, 1 length, 2 depth) lies along each box axis.
struct Layout {
    const char* label;
    int along_width;
    int along_length;
    int along_depth;
};

inline constexpr Layout kLayouts[6] = {
    {"WLD", 0, 1, 2}, {"LWD", 1, 0, 2}, {"WDL", 0, 2, 1},
    {"LDW", 1, 2, 0}, {"DWL", 2, 0, 1}, {"DLW", 2, 1, 0},
};

// How many rows of the table, from the first, a rotation freedom allows.
std::size_t layout_count(Rotation rotation);

// best_orientation for an item's measures (width, length, depth) read
// beforehand: the position of the chosen row in kLayouts, or -1.
int best_layout(const double dims[3], Rotation rotation, double available_width,
                double available_length, double available_depth);

// Whether any allowed orientation fits the available extent.
bool fits_some_orientation(const Item& item, double available_width, double available_length,
                           double available_depth);
// The same for an item's measures read beforehand.
bool fits_some_orientation(double width, double length, double depth, Rotation rotation,
                           double available_width, double available_length,
                           double available_depth);

}  // namespace stowvex
