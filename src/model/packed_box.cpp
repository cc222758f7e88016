// Packed-box figures.
#include "model/packed_box.hpp"

#include <cmath>
#include <utility>

namespace stowvex {

namespace {

// Largest far face along one axis; a NaN candidate leaves the maximum alone.
template <class FarFace>
double largest_extent(const std::vector<PackedItem>& items, FarFace far_face) {
    double largest = 0.0;
    for (const PackedItem& item : items) {
        const double candidate = far_face(item);
        if (candidate > largest) largest = candidate;
    }
    return largest;
}

}  // namespace

PackedBox::PackedBox(BoxPtr box) : box_(std::move(box)) {}

double PackedBox::item_weight() const {
    double total = 0.0;
    for (const PackedItem& item : items_) total += item.weight();
    return total;
}

double PackedBox::weight() const { return box_->empty_weight() + item_weight(); }

double PackedBox::max_weight() const { return box_->max_weight(); }

double PackedBox::remaining_weight() const {
    if (!box_->has_weight_limit()) return -1.0;
    const double remaining = box_->max_weight() - (box_->empty_weight() + item_weight());
    if (std::isnan(remaining) || remaining < 0.0) return 0.0;
    return remaining;
}

double PackedBox::used_volume() const {
    double total = 0.0;
    for (const PackedItem& item : items_) total += item.volume();
    return total;
}

double PackedBox::inner_volume() const { return box_->inner_volume(); }

double PackedBox::unused_volume() const { return inner_volume() - used_volume(); }

double PackedBox::volume_utilisation() const {
    const double inner = inner_volume();
    if (inner <= 0.0) return 0.0;
    return used_volume() / inner * 100.0;
}

double PackedBox::used_width() const {
    return largest_extent(items_, [](const PackedItem& p) { return p.x() + p.width(); });
}

double PackedBox::used_length() const {
    return largest_extent(items_, [](const PackedItem& p) { return p.y() + p.length(); });
}

double PackedBox::used_depth() const {
    return largest_extent(items_, [](const PackedItem& p) { return p.z() + p.depth(); });
}

double PackedBox::remaining_width() const { return box_->width() - used_width(); }
double PackedBox::remaining_length() const { return box_->length() - used_length(); }
double PackedBox::remaining_depth() const { return box_->depth() - used_depth(); }

}  // namespace stowvex
