// Evens out item weight between the boxes of a run by moving single items
// from the heavier box of a pair to the lighter one.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "engine/box_use_counts.hpp"
#include "engine/sorted_collection.hpp"
#include "model/packed_box.hpp"

namespace stowvex {

// The rebalanced boxes; the given list's boxes are not changed.
PackedBoxList balance_weights(const BoxList& boxes, const PackedBoxList& packed);

// Tries one move between the boxes at i and j; true when the list changed.
bool try_move_item(const BoxList& boxes, std::vector<PackedBox>& working, std::size_t i,
                   std::size_t j, double mean_item_weight);

// All the items packed into the first active box type, in box order, that
// holds every one of them. A limited-supply type is skipped once `used`
// (when given) counts max_quantity or more boxes of its reference.
std::optional<PackedBox> find_box_for_all(const BoxList& boxes, const std::vector<ItemPtr>& items,
                                          const BoxUseCounts* used = nullptr);

}  // namespace stowvex
