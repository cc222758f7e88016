// How many boxes of each box-type reference a run has opened, whether a
// limited-supply type has used up its quantity, and whether a list of box
// types has a quantity limit at all.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "model/box.hpp"
#include "model/packing_rules.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex {

using BoxUseCounts = std::unordered_map<std::string, std::int32_t>;

inline bool supply_used_up(const Box& box, const BoxUseCounts& used) {
    const LimitedSupplyBox* limited = limited_supply_of(box);
    if (limited == nullptr) return false;
    const auto found = used.find(box.reference());
    const std::int32_t count = found == used.end() ? 0 : found->second;
    return !supply_left(count, limited->max_quantity());
}

// Whether a quantity limit can ever keep a box type out of a search.
inline bool any_limited_supply(const BoxList& boxes) {
    for (const BoxPtr& box : boxes.sorted_view()) {
        if (box->active() && limited_supply_of(*box) != nullptr) return true;
    }
    return false;
}

}  // namespace stowvex
