// Shared by the packing tests: request lists made from items and box types,
// and the checks of the randomised tests: every placement inside its box, no
// two placements overlapping, placed extents allowed by the item's rotation
// freedom.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/packed_box.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex::testing {

inline ItemList items_of(const std::vector<ItemPtr>& items) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    for (const ItemPtr& item : items) list.add(item);
    return list;
}

inline BoxList boxes_of(const std::vector<BoxPtr>& boxes) {
    BoxList list(std::make_shared<DefaultBoxSorter>());
    for (const BoxPtr& box : boxes) list.add(box);
    return list;
}

inline bool overlap(const PackedItem& a, const PackedItem& b) {
    return a.x() < b.x() + b.width() && b.x() < a.x() + a.width() && a.y() < b.y() + b.length() &&
           b.y() < a.y() + a.length() && a.z() < b.z() + b.depth() && b.z() < a.z() + a.depth();
}

// With `by_rotation` false, only that the label names the extents placed (the
// optimiser's loading rules may list other orientations).
inline bool orientation_allowed(const PackedItem& p, bool by_rotation = true) {
    const Item& item = *p.item();
    const std::string& label = p.orientation();
    if (label.size() != 3) return false;
    const auto extent = [&](char c) {
        return c == 'W' ? item.width() : c == 'L' ? item.length() : item.depth();
    };
    if (extent(label[0]) != p.width() || extent(label[1]) != p.length() ||
        extent(label[2]) != p.depth()) {
        return false;
    }
    std::array<char, 3> letters{label[0], label[1], label[2]};
    std::sort(letters.begin(), letters.end());
    if (letters != std::array<char, 3>{'D', 'L', 'W'}) return false;
    if (!by_rotation) return true;
    switch (item.allowed_rotation()) {
        case Rotation::NEVER: return label == "WLD";
        case Rotation::KEEP_FLAT: return label == "WLD" || label == "LWD";
        default: return true;
    }
}

// Placement geometry of one packed box; reports every fault it finds.
inline void expect_sound_geometry(const PackedBox& box, bool by_rotation = true) {
    const Box& type = *box.box();
    const auto& items = box.items();
    for (std::size_t a = 0; a < items.size(); ++a) {
        const PackedItem& p = items[a];
        EXPECT_TRUE(orientation_allowed(p, by_rotation))
            << p.item()->item_code() << " " << p.orientation();
        EXPECT_GE(p.x(), 0.0);
        EXPECT_GE(p.y(), 0.0);
        EXPECT_GE(p.z(), 0.0);
        EXPECT_LE(p.x() + p.width(), type.width()) << p.item()->item_code();
        EXPECT_LE(p.y() + p.length(), type.length()) << p.item()->item_code();
        EXPECT_LE(p.z() + p.depth(), type.depth()) << p.item()->item_code();
        for (std::size_t b = a + 1; b < items.size(); ++b) {
            EXPECT_FALSE(overlap(p, items[b]))
                << p.item()->item_code() << " overlaps " << items[b].item()->item_code();
        }
    }
}

}  // namespace stowvex::testing
