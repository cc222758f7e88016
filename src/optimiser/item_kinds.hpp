// Items grouped into kinds. Items with the same sides, weight, rotation
// freedom and box group are interchangeable in a packing; the optimiser packs
// counts of kinds and hands out the items of a kind in request order.
#pragma once

#include <string>
#include <vector>

#include "model/item.hpp"
#include "optimiser/cuboid.hpp"

namespace stowvex::optimiser {

// One orientation (of kOrientations) of an item kind: the extents it takes
// and the label a placement carries.
struct KindOrientation {
    Vec3 size;
    const char* label;
};

// The orientations an item's rotation freedom allows, without repeats of the
// same extents (the first label of equal extents is kept).
std::vector<KindOrientation> orientations_of(const Item& item);

struct ItemKind {
    Vec3 sides;  // width, length, depth as the item gives them
    double weight = 0.0;
    double volume = 0.0;
    int group = -1;  // index into KindTable::groups, -1 without a box group
    std::vector<KindOrientation> orientations;
    Vec3 smallest_extent{};            // per axis, the smallest placed extent over the orientations
    bool placeable = true;             // false with a negative side: such an item is never placed
    std::vector<std::size_t> members;  // positions of its items in the request, ascending
};

struct KindTable {
    std::vector<ItemKind> kinds;
    std::vector<std::string> groups;            // box group names, by first appearance
    std::vector<std::vector<int>> group_kinds;  // the kinds of each box group

    std::vector<int> counts() const;
    bool has_groups() const { return !groups.empty(); }
};

// Kinds in order of first appearance in the item list.
KindTable group_into_kinds(const std::vector<ItemPtr>& items);

}  // namespace stowvex::optimiser
