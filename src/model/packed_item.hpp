// One placement: an item, the extents it occupies once turned, its
// orientation label and the position of its lowest corner.
#pragma once

#include <string>

#include "model/item.hpp"
#include "model/orientations.hpp"

namespace stowvex {

class PackedItem {
public:
    PackedItem(ItemPtr item, double width, double length, double depth, std::string orientation,
               double x, double y, double z);

    const ItemPtr& item() const { return item_; }
    double width() const { return width_; }
    double length() const { return length_; }
    double depth() const { return depth_; }
    const std::string& orientation() const { return orientation_; }
    double x() const { return x_; }
    double y() const { return y_; }
    double z() const { return z_; }

    // Turned from the item as given.
    bool rotated() const { return orientation_ != kOrientations[0].label; }
    double volume() const { return length_ * width_ * depth_; }
    double weight() const { return item_->weight(); }
    PackedItem translated(double dx, double dy, double dz) const;

private:
    ItemPtr item_;
    double width_;
    double length_;
    double depth_;
    std::string orientation_;
    double x_;
    double y_;
    double z_;
};

}  // namespace stowvex
