// The outcome of one packing run: success, packed boxes, unplaced items and
// the totals over them.
#pragma once

#include <cstddef>

#include "model/sorted_collection.hpp"

namespace stowvex {

class PackResponse {
public:
    PackResponse(bool success, PackedBoxList boxes, ItemList unplaced_items);

    bool success() const { return success_; }
    const PackedBoxList& boxes() const { return boxes_; }
    const ItemList& unplaced_items() const { return unplaced_items_; }

    std::size_t box_count() const { return boxes_.size(); }
    std::size_t total_placed() const;
    std::size_t total_unplaced() const { return unplaced_items_.size(); }
    double overall_volume_utilisation() const;

private:
    bool success_;
    PackedBoxList boxes_;
    ItemList unplaced_items_;
};

}  // namespace stowvex
