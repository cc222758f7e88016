// The packer driver: packs a whole request box after box and hands back the
// packed boxes and the items that found no place.
#pragma once

#include <string>
#include <unordered_map>

#include "model/pack_request.hpp"
#include "model/pack_response.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex {

// Remaining items of each box group, keyed by group name.
using GroupCounts = std::unordered_map<std::string, std::size_t>;

// Counts its single-box packings into this thread's tally (packing_tally.hpp).
PackResponse pack_items(const ItemList& items, const BoxList& boxes);
PackResponse pack_items(const PackRequest& request);

// A trial box may not take only part of the remaining items of a box group
// (packing_rules.hpp): every placement of a group the trial splits is
// dropped, without re-packing.
PackedBox drop_split_groups(PackedBox trial, const GroupCounts& group_counts);

}  // namespace stowvex
