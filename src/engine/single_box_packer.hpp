// Packs items into one box: rows and layers from a walking cursor first, then
// the free spaces left behind, each packed the same way as a box of its own.
// The packer only reads the items and the box, and is deterministic.
#pragma once

#include <optional>

#include "engine/packing_items.hpp"
#include "model/box.hpp"
#include "model/packed_box.hpp"

namespace stowvex {

class SingleBoxPacker {
public:
    explicit SingleBoxPacker(BoxPtr box);

    const BoxPtr& box() const { return box_; }

    // Packs the items read from a list's sorted view, in that order, into
    // one box of this type.
    PackedBox pack_box(const PackingItems& items) const;

    // pack_box when the box holds every item of the list, nothing otherwise.
    // Stops early once some item is certain to be left out.
    std::optional<PackedBox> pack_all(const PackingItems& items) const;

private:
    BoxPtr box_;
};

}  // namespace stowvex
