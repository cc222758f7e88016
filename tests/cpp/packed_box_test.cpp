// Placements and the figures of a packed box.
#include "model/packed_box.hpp"

#include <cmath>

#include <gtest/gtest.h>

namespace stowvex {
namespace {

ItemPtr item(const char* code, double w, double l, double d, double weight) {
    return make_item(code, code, w, l, d, weight, "", Rotation::BEST_FIT);
}

BoxPtr box(double w, double l, double d, double max_weight = -1, double empty_weight = 0) {
    return make_box("B", w, l, d, max_weight, empty_weight, true, std::nullopt);
}

TEST(PackedItem, SwappedPlacementIsRotatedAndMeasuresPlacedExtents) {
    PackedItem p(item("A", 1, 2, 3, 1), 2, 1, 3, "LWD", 0, 0, 0);
    EXPECT_TRUE(p.rotated());
    EXPECT_EQ(p.width(), 2.0);
    EXPECT_EQ(p.volume(), 6.0);
    // A cube keeps its label: only the text decides whether it counts as turned.
    EXPECT_FALSE(PackedItem(item("C", 2, 2, 2, 1), 2, 2, 2, "WLD", 0, 0, 0).rotated());
    EXPECT_TRUE(PackedItem(item("C", 2, 2, 2, 1), 2, 2, 2, "DLW", 0, 0, 0).rotated());
}

TEST(PackedItem, TranslatedMovesOnlyThePosition) {
    ItemPtr shared = item("A", 1, 2, 3, 1);
    PackedItem p(shared, 2, 1, 3, "LWD", 0.5, 0, 0);
    PackedItem moved = p.translated(1, 2, 3);
    EXPECT_EQ(moved.x(), 1.5);
    EXPECT_EQ(moved.y(), 2.0);
    EXPECT_EQ(moved.z(), 3.0);
    EXPECT_EQ(moved.width(), 2.0);
    EXPECT_EQ(moved.length(), 1.0);
    EXPECT_EQ(moved.depth(), 3.0);
    EXPECT_EQ(moved.orientation(), "LWD");
    EXPECT_EQ(moved.item(), shared);
    EXPECT_EQ(p.x(), 0.5);
}

TEST(PackedBoxFigures, EmptyBox) {
    PackedBox empty(box(10, 20, 30, 50, 4));
    EXPECT_EQ(empty.item_count(), 0u);
    EXPECT_EQ(empty.item_weight(), 0.0);
    EXPECT_EQ(empty.weight(), 4.0);
    EXPECT_EQ(empty.used_volume(), 0.0);
    EXPECT_EQ(empty.volume_utilisation(), 0.0);
    EXPECT_EQ(empty.used_width(), 0.0);
    EXPECT_EQ(empty.used_depth(), 0.0);
    EXPECT_EQ(empty.remaining_width(), 10.0);
    EXPECT_EQ(empty.remaining_length(), 20.0);
    EXPECT_EQ(empty.remaining_depth(), 30.0);
    EXPECT_EQ(empty.remaining_weight(), 46.0);
}

TEST(PackedBoxFigures, RemainingWeightIsClampedOrMinusOne) {
    PackedBox unlimited(box(10, 10, 10));
    unlimited.add(PackedItem(item("H", 1, 1, 1, 1e9), 1, 1, 1, "WLD", 0, 0, 0));
    EXPECT_EQ(unlimited.remaining_weight(), -1.0);
    EXPECT_EQ(unlimited.max_weight(), -1.0);

    PackedBox light(box(10, 10, 10, 20, 2));
    light.add(PackedItem(item("A", 1, 1, 1, 5), 1, 1, 1, "WLD", 0, 0, 0));
    light.add(PackedItem(item("B", 1, 1, 1, 4), 1, 1, 1, "WLD", 1, 0, 0));
    EXPECT_EQ(light.remaining_weight(), 9.0);

    PackedBox heavy(box(10, 10, 10, 20, 2));
    heavy.add(PackedItem(item("A", 1, 1, 1, 15), 1, 1, 1, "WLD", 0, 0, 0));
    heavy.add(PackedItem(item("B", 1, 1, 1, 10), 1, 1, 1, "WLD", 1, 0, 0));
    EXPECT_EQ(heavy.remaining_weight(), 0.0);

    PackedBox nan(box(10, 10, 10, 20, 2));
    nan.add(PackedItem(item("N", 1, 1, 1, std::nan("")), 1, 1, 1, "WLD", 0, 0, 0));
    EXPECT_EQ(nan.remaining_weight(), 0.0);
}

TEST(PackedBoxFigures, VolumesAndExtents) {
    PackedBox packed(box(10, 10, 10));
    packed.add(PackedItem(item("A", 2, 5, 10, 1), 2, 5, 10, "WLD", 0, 0, 0));
    EXPECT_EQ(packed.used_volume(), 100.0);
    EXPECT_EQ(packed.volume_utilisation(), 10.0);
    EXPECT_EQ(packed.unused_volume(), 900.0);
    EXPECT_EQ(packed.used_width(), 2.0);
    EXPECT_EQ(packed.used_length(), 5.0);
    EXPECT_EQ(packed.used_depth(), 10.0);
    EXPECT_EQ(packed.remaining_width(), 8.0);
    EXPECT_EQ(packed.remaining_length(), 5.0);
    EXPECT_EQ(packed.remaining_depth(), 0.0);
}

TEST(PackedBoxFigures, UsedExtentIsTheFarthestFaceNotASum) {
    PackedBox packed(box(10, 10, 10));
    packed.add(PackedItem(item("A", 4, 1, 1, 1), 4, 1, 1, "WLD", 0, 0, 0));
    packed.add(PackedItem(item("B", 3, 1, 1, 1), 3, 1, 1, "WLD", 6, 0, 0));
    EXPECT_EQ(packed.used_width(), 9.0);
    // A NaN far face leaves the running maximum alone.
    packed.add(PackedItem(item("N", 1, 1, 1, 1), std::nan(""), 1, 1, "WLD", 0, 0, 0));
    EXPECT_EQ(packed.used_width(), 9.0);
}

TEST(PackedBoxFigures, ZeroOrNegativeInnerVolumeGivesZeroUtilisation) {
    PackedBox flat(box(10, 0, 10));
    flat.add(PackedItem(item("A", 1, 0, 1, 1), 1, 0, 1, "WLD", 0, 0, 0));
    EXPECT_EQ(flat.inner_volume(), 0.0);
    EXPECT_EQ(flat.volume_utilisation(), 0.0);
    EXPECT_EQ(PackedBox(box(-1, 2, 3)).volume_utilisation(), 0.0);
}

}  // namespace
}  // namespace stowvex
