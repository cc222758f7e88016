// Evens out item weight between the boxes of a run by moving single items
// from the heavier box of a pair to the lighter one.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "engine/box_use_counts.hpp"
#include "engine/packing_memo.hpp"
#include "model/packed_box.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex {

// The rebalanced boxes; the given list's boxes are not changed. Counts its
// single-box packings into this thread's tally (packing_tally.hpp).
PackedBoxList balance_weights(const BoxList& boxes, const PackedBoxList& packed);

// Tries one move between the boxes at i and j; true when the list changed.
bool try_move_item(const BoxList& boxes, std::vector<PackedBox>& working, std::size_t i,
                   std::size_t j, double mean_item_weight, PackingMemo* memo = nullptr);

// All the items packed into the first active box type, in box order, that
// holds every one of them. The items are in the order of the sorted view of a
// list of them with a DefaultItemSorter. A limited-supply type is skipped
// once `used` (when given) counts max_quantity or more boxes of its
// reference.
std::optional<PackedBox> find_box_for_all(const BoxList& boxes, const std::vector<ItemPtr>& sorted,
                                          const BoxUseCounts* used = nullptr,
                                          PackingMemo* memo = nullptr);

}  // namespace stowvex
