// Free spaces: the disjoint empty blocks left in a volume by the items placed
// in it, and the order in which they are tried.
#pragma once

#include <vector>

#include "model/packed_item.hpp"

namespace stowvex {

// One empty block, positioned in the frame of the volume being packed.
struct FreeSpace {
    double x;
    double y;
    double z;
    double width;
    double length;
    double depth;
    double volume;     // width * length * depth
    double base_area;  // width * length
};

FreeSpace make_free_space(double x, double y, double z, double width, double length,
                          double depth);

// The free spaces of an empty volume of this size cut by the placed items.
std::vector<FreeSpace> free_spaces_of(double width, double length, double depth,
                                      const std::vector<PackedItem>& items);

// Cuts the spaces by each item in turn. A space an item overlaps is replaced,
// in place, by up to six pieces: low x, high x, low y, high y, below, above.
std::vector<FreeSpace> split_free_spaces(std::vector<FreeSpace> spaces,
                                         const std::vector<PackedItem>& items);

// Lowest first; at equal height the larger volume, then the larger floor.
bool space_before(const FreeSpace& a, const FreeSpace& b);

// For spaces already stably sorted by space_before: cuts them by the items
// and sorts the result, giving the very list split_free_spaces followed by a
// stable sort would. Only the new pieces are sorted; they are then merged
// into the untouched spaces, which are still in order.
void split_sorted_free_spaces(std::vector<FreeSpace>& spaces,
                              const std::vector<PackedItem>& items);

}  // namespace stowvex
