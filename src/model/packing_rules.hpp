// The rules every packing keeps, whichever method makes it: a box's weight
// limit, a box type's quantity limit and box groups. The engine and the
// optimiser count in their own ways; what they decide, they decide here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stowvex {

// Weight. A box's budget is the item weight it may take: max weight less
// empty weight (Box::max_item_weight), negative without a weight limit.
//
// Under a limit only an item of weight 0 or more goes in. A weight that
// cannot be compared (NaN) never passes, so it cannot switch the limit off
// for the items after it. Nor does a negative weight: it would lend the box
// room for the items tested after it, room that is gone again when the item
// is dropped with a split box group, or that swallows their weights whole
// when it is huge (-1e19 + 17 is -1e19), and the box would hold more than its
// limit.
inline bool weight_admitted(double weight, double budget) { return budget < 0.0 || weight >= 0.0; }

// Whether items of this total weight, added up in placement order, stay
// within the budget.
inline bool within_budget(double item_weight, double budget) {
    return budget < 0.0 || item_weight <= budget;
}

// Whether an item may join items of weight `used` in a box of this budget.
inline bool weight_allows(double used, double weight, double budget) {
    return weight_admitted(weight, budget) && within_budget(used + weight, budget);
}

// Quantity. Of a box type with a quantity limit (LimitedSupplyBox), a run
// opens boxes while fewer than the limit are open of the type's reference,
// whichever type of that reference they are of; a limit of 0 or less allows
// none.
inline bool supply_left(std::int64_t opened, std::int64_t max_quantity) {
    return opened < max_quantity;
}

// How many more boxes the limit allows.
inline std::int64_t boxes_left(std::int64_t opened, std::int64_t max_quantity) {
    return supply_left(opened, max_quantity) ? max_quantity - opened : 0;
}

// Box groups. The items of a box group share one box: a box holds every item
// of the group that is still to be packed, or none. A box that holds
// `in_box` of the `left` items of a group splits it when it holds some but
// not all.
inline bool splits_group(std::size_t in_box, std::size_t left) {
    return in_box > 0 && in_box < left;
}

// Into `kept`, the placements of a box less those of every group it splits,
// in their order; false, with `kept` untouched, when it splits none.
// `group_of(p)` gives a pointer to the group of placement p, a key of the
// tally `in_box`, or nullptr for a placement of no group; `in_box` counts
// from 0 (an empty map, or zeros per group index); `left(group)` gives the
// items of the group still to be packed.
template <class Placement, class GroupOf, class Tally, class Left>
bool without_split_groups(const std::vector<Placement>& placements, GroupOf group_of, Tally& in_box,
                          Left left, std::vector<Placement>& kept) {
    for (const Placement& p : placements) {
        if (const auto* group = group_of(p)) ++in_box[*group];
    }
    const auto splits = [&](const auto& group) {
        return splits_group(static_cast<std::size_t>(in_box[group]),
                            static_cast<std::size_t>(left(group)));
    };
    bool any = false;
    for (const Placement& p : placements) {
        const auto* group = group_of(p);
        if (group != nullptr && splits(*group)) {
            any = true;
            break;
        }
    }
    if (!any) return false;
    kept.clear();
    for (const Placement& p : placements) {
        const auto* group = group_of(p);
        if (group == nullptr || !splits(*group)) kept.push_back(p);
    }
    return true;
}

}  // namespace stowvex
