// Placements.
#include "model/packed_item.hpp"

#include <utility>

namespace stowvex {

PackedItem::PackedItem(ItemPtr item, double width, double length, double depth,
                       std::string orientation, double x, double y, double z)
    : item_(std::move(item)),
      width_(width),
      length_(length),
      depth_(depth),
      orientation_(std::move(orientation)),
      x_(x),
      y_(y),
      z_(z) {}

PackedItem PackedItem::translated(double dx, double dy, double dz) const {
    PackedItem moved = *this;
    moved.x_ += dx;
    moved.y_ += dy;
    moved.z_ += dz;
    return moved;
}

}  // namespace stowvex
