// The six orientations an item may take in a box, and how many of them each
// rotation freedom allows. Every packing turns items only by this table.
#pragma once

#include <cstddef>

#include "model/rotation.hpp"

namespace stowvex {

// One way of turning an item: its label, whose letter k names the item side
// along box axis k, and the index of that side (0 width, 1 length, 2 depth)
// along the box's width, length and depth.
struct Orientation {
    const char* label;
    int along_width;
    int along_length;
    int along_depth;
};

// The first is the item as given; KEEP_FLAT adds the second, a quarter turn
// about the vertical axis, so that the item's depth stays vertical.
inline constexpr Orientation kOrientations[6] = {
    {"WLD", 0, 1, 2}, {"LWD", 1, 0, 2}, {"WDL", 0, 2, 1},
    {"LDW", 1, 2, 0}, {"DWL", 2, 0, 1}, {"DLW", 2, 1, 0},
};

// How many orientations, from the first, a rotation freedom allows: NEVER
// one, KEEP_FLAT two, anything else all six.
constexpr std::size_t orientation_count(Rotation rotation) {
    switch (rotation) {
        case Rotation::NEVER: return 1;
        case Rotation::KEEP_FLAT: return 2;
        default: return 6;
    }
}

}  // namespace stowvex
