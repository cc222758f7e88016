// Orientations an item may take under its rotation freedom, and the choice of
// the best-fitting one for the free extent at a placement point.
#pragma once

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

// Whether any allowed orientation fits the available extent.
bool fits_some_orientation(const Item& item, double available_width, double available_length,
                           double available_depth);
// The same for an item's measures read beforehand.
bool fits_some_orientation(double width, double length, double depth, Rotation rotation,
                           double available_width, double available_length,
                           double available_depth);

}  // namespace stowvex
