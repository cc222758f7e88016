// Free spaces: the cutting for placed items.
#include "engine/free_space.hpp"

#include <utility>

namespace stowvex {

FreeSpace make_free_space(double x, double y, double z, double width, double length,
                          double depth) {
    return FreeSpace{x, y, z, width, length, depth, width * length * depth, width * length};
}

std::vector<FreeSpace> split_free_spaces(std::vector<FreeSpace> spaces,
                                         const std::vector<PackedItem>& items) {
    return split_free_spaces<FreeSpace, PackedItem>(std::move(spaces), items);
}

std::vector<FreeSpace> free_spaces_of(double width, double length, double depth,
                                      const std::vector<PackedItem>& items) {
    return free_spaces_of<FreeSpace, PackedItem>(width, length, depth, items);
}

void split_sorted_free_spaces(std::vector<FreeSpace>& spaces,
                              const std::vector<PackedItem>& items) {
    split_sorted_free_spaces<FreeSpace, PackedItem>(spaces, items);
}

}  // namespace stowvex
