// The single-box packer: one packing of the box's size, its placements made
// into the packed box.
#include "engine/single_box_packer.hpp"

#include <utility>
#include <vector>

#include "engine/packing.hpp"

namespace stowvex {

namespace {

constexpr std::size_t kLongList = 4096;

// Packs the items into the box; whether a whole packing gave up, and the box.
std::pair<bool, PackedBox> pack_into_box(const BoxPtr& box, const PackingItems& items, bool whole) {
    // Packings of one thread follow one another: they share the buffers.
    thread_local PackingScratch scratch;
    thread_local std::vector<PlacedEntry> placements;
    Packing packing(items, whole, scratch);
    packing.pack(box->width(), box->length(), box->depth(), box->max_item_weight(), 0, placements);
    PackedBox packed(box);
    const bool gave_up = packing.gave_up();
    if (!gave_up) {
        packed.reserve(placements.size());
        for (const PlacedEntry& p : placements) packed.add(packing.packed_item(p));
    }
    // A long list leaves no large buffers behind.
    if (items.size() > kLongList) {
        scratch = PackingScratch();
        placements = std::vector<PlacedEntry>();
    }
    return {gave_up, std::move(packed)};
}

}  // namespace

SingleBoxPacker::SingleBoxPacker(BoxPtr box) : box_(std::move(box)) {}

PackedBox SingleBoxPacker::pack_box(const PackingItems& items) const {
    return pack_into_box(box_, items, false).second;
}

std::optional<PackedBox> SingleBoxPacker::pack_all(const PackingItems& items) const {
    auto [gave_up, packed] = pack_into_box(box_, items, true);
    if (gave_up || packed.item_count() != items.size()) return std::nullopt;
    return std::move(packed);
}

}  // namespace stowvex
