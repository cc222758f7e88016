// The single-box packer: one packing of the box's size, its placements made
// into the packed box.
#include "engine/single_box_packer.hpp"

#include <utility>
#include <vector>

#include "engine/packing.hpp"

namespace stowvex {

namespace {

// Packs the items into the box; whether a whole packing gave up, and the box.
std::pair<bool, PackedBox> pack_into_box(const BoxPtr& box, const PackingItems& items,
                                         bool whole) {
    Packing packing(items, whole);
    std::vector<Placement> placements;
    packing.pack(box->width(), box->length(), box->depth(), box->max_item_weight(), 0,
                 placements);
    PackedBox packed(box);
    if (!packing.gave_up()) {
        for (const Placement& p : placements) packed.add(packing.packed_item(p));
    }
    return {packing.gave_up(), std::move(packed)};
}

}  // namespace

SingleBoxPacker::SingleBoxPacker(BoxPtr box) : box_(std::move(box)) {}

PackedBox SingleBoxPacker::pack_box(const ItemList& items) const {
    return pack_box(PackingItems(items.sorted_view()));
}

PackedBox SingleBoxPacker::pack_box(const PackingItems& items) const {
    return pack_into_box(box_, items, false).second;
}

std::optional<PackedBox> SingleBoxPacker::pack_all(const PackingItems& items) const {
    auto [gave_up, packed] = pack_into_box(box_, items, true);
    if (gave_up || packed.item_count() != items.size()) return std::nullopt;
    return std::move(packed);
}

}  // namespace stowvex
