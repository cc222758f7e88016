// Packs items into one box: rows and layers from a walking cursor first, then
// the free spaces left behind, each packed the same way as a box of its own.
// The packer only reads the items and the box, and is deterministic.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "engine/sorted_collection.hpp"
#include "model/box.hpp"
#include "model/item.hpp"
#include "model/packed_box.hpp"
#include "model/packed_item.hpp"

namespace stowvex {

// Where the next item of the current row goes, the longest placed length of
// the current row and the tallest placed depth of the current layer.
struct PlacementCursor {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double row_length = 0.0;
    double layer_depth = 0.0;
};

// A list of items as the single-box packer reads it: in the order given, with
// the measures of every item read once, so that packing one list into several
// box types reads it once. The list itself must outlive it.
class PackingItems {
public:
    explicit PackingItems(const std::vector<ItemPtr>& items);
    ~PackingItems();
    PackingItems(const PackingItems&) = delete;
    PackingItems& operator=(const PackingItems&) = delete;

    struct Read;  // what the packer has read, defined by the packer
    const Read& read() const { return *read_; }

private:
    std::unique_ptr<Read> read_;
};

class SingleBoxPacker {
public:
    // Free spaces are packed recursively; a volume this deep gets rows and
    // layers only.
    static constexpr int kMaxNestingDepth = 4;

    explicit SingleBoxPacker(BoxPtr box);

    const BoxPtr& box() const { return box_; }

    // Packs the list's items, in sorted-view order, into one box of this type.
    PackedBox pack_box(const ItemList& items) const;
    // The same for the items read from a list's sorted view.
    PackedBox pack_box(const PackingItems& items) const;

    // pack_box when the box holds every item of the list, nothing otherwise.
    // Stops early once some item is certain to be left out.
    std::optional<PackedBox> pack_all(const ItemList& items) const;
    std::optional<PackedBox> pack_all(const PackingItems& items) const;

    // Packs the items, in the given order, with a weight budget (negative: no
    // limit); the nesting depth is 0 for a real box. Null entries are skipped.
    PackedBox pack_volume(const std::vector<ItemPtr>& items, double budget,
                          int nesting_depth) const;

    // Tries the item in the current row, then in a new row, then in a new
    // layer of the volume with origin (ox, oy, oz) and the given size. On
    // success the cursor moves on; otherwise it is left exactly as it was.
    static std::optional<PackedItem> place_at_cursor(const ItemPtr& item, PlacementCursor& cursor,
                                                     double ox, double oy, double oz,
                                                     double width, double length, double depth);

private:
    BoxPtr box_;
};

}  // namespace stowvex
