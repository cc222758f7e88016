// Items grouped into kinds. Items with the same sides, weight, orientations,
// box group and loading rules are interchangeable in a packing; the optimiser packs
// counts of kinds and hands out the items of a kind in request order.
#pragma once

#include <string>
#include <vector>

#include "model/item.hpp"
#include "optimiser/cuboid.hpp"
#include "optimiser/loading_rules.hpp"

namespace stowvex::optimiser {

// One orientation (of kOrientations) of an item kind: the extents it takes
// and the label a placement carries.
struct KindOrientation {
    Vec3 size;
    const char* label;
};

// The orientations of `mask` (bits of kOrientations), without repeats of the
// same extents (the first label of equal extents is kept).
std::vector<KindOrientation> orientations_of(const Item& item, unsigned mask);
// Those the item's rotation freedom allows.
std::vector<KindOrientation> orientations_of(const Item& item);

struct ItemKind {
    Vec3 sides;  // width, length, depth as the item gives them
    double weight = 0.0;
    double volume = 0.0;
    int group = -1;                  // index into KindTable::groups, -1 without a box group
    double max_load = kNoLoadLimit;  // the weight the item may carry; 0 when fragile
    int stop = 0;                    // delivery stop, 0 without one
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

// Kinds in order of first appearance in the item list; the rules, when
// given, decide the items' orientations, max loads and stops.
KindTable group_into_kinds(const std::vector<ItemPtr>& items, const LoadingRules* rules = nullptr);

}  // namespace stowvex::optimiser
