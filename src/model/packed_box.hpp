// One opened box of a box type with its placements, and every figure derived
// from them. Figures are computed on each call; nothing is cached.
#pragma once

#include <cstddef>
#include <vector>

#include "model/box.hpp"
#include "model/packed_item.hpp"

namespace stowvex {

class PackedBox {
public:
    explicit PackedBox(BoxPtr box);

    const BoxPtr& box() const { return box_; }
    const std::vector<PackedItem>& items() const { return items_; }
    std::size_t item_count() const { return items_.size(); }
    void add(PackedItem item) { items_.push_back(std::move(item)); }
    void reserve(std::size_t items) { items_.reserve(items); }

    double item_weight() const;
    double weight() const;
    double max_weight() const;
    double remaining_weight() const;
    double used_volume() const;
    double inner_volume() const;
    double unused_volume() const;
    double volume_utilisation() const;
    double used_width() const;
    double used_length() const;
    double used_depth() const;
    double remaining_width() const;
    double remaining_length() const;
    double remaining_depth() const;

private:
    BoxPtr box_;
    std::vector<PackedItem> items_;
};

}  // namespace stowvex
