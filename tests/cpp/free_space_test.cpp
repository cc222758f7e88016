// Working volumes, free spaces left by placed items, and their order.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/free_space.hpp"
#include "engine/working_volume.hpp"

namespace stowvex {
namespace {

PackedItem placed(double x, double y, double z, double w, double l, double d) {
    const ItemPtr item = make_item("P", "P", w, l, d, 1, "", Rotation::NEVER);
    return PackedItem(item, w, l, d, "WLD", x, y, z);
}

// "(x,y,z) wxlxd" for each space, checking its volume and floor on the way.
std::string describe(const std::vector<FreeSpace>& spaces) {
    std::string out;
    for (const FreeSpace& s : spaces) {
        EXPECT_EQ(s.volume, s.width * s.length * s.depth);
        EXPECT_EQ(s.base_area, s.width * s.length);
        char text[128];
        std::snprintf(text, sizeof text, "(%g,%g,%g) %gx%gx%g ", s.x, s.y, s.z, s.width, s.length,
                      s.depth);
        out += text;
    }
    return out;
}

TEST(WorkingVolume, IsABoxWithNothingButASize) {
    const WorkingVolume v(12, 8, 3.5);
    EXPECT_EQ(v.reference(), "Working Volume 12.000000x8.000000x3.500000");
    EXPECT_FALSE(v.has_weight_limit());
    EXPECT_EQ(v.max_item_weight(), -1.0);
    EXPECT_EQ(v.empty_weight(), 0.0);
    EXPECT_TRUE(v.active());
    EXPECT_EQ(v.inner_volume(), 336.0);
    // 309 integer digits for the largest double, none lost.
    const double huge = std::numeric_limits<double>::max();
    EXPECT_EQ(WorkingVolume(huge, -huge, 0).reference().size(), 15u + 316 + 1 + 317 + 1 + 8);
}

TEST(FreeSpaces, CutByPlacedItemsInTheFixedPieceOrder) {
    EXPECT_EQ(describe(free_spaces_of(10, 20, 30, {})), "(0,0,0) 10x20x30 ");
    EXPECT_EQ(describe(free_spaces_of(10, 20, 30, {placed(0, 0, 0, 10, 20, 30)})), "");
    const PackedItem a = placed(0, 0, 0, 6, 10, 10);
    EXPECT_EQ(describe(free_spaces_of(10, 10, 10, {a})), "(6,0,0) 4x10x10 ");
    EXPECT_EQ(describe(free_spaces_of(10, 10, 10, {a, placed(6, 0, 0, 4, 5, 5)})),
              "(6,5,0) 4x5x10 (6,0,5) 4x5x5 ");
    // Strictly inside: low x, high x, low y, high y, below, above.
    EXPECT_EQ(describe(free_spaces_of(10, 10, 10, {placed(2, 3, 4, 1, 2, 3)})),
              "(0,0,0) 2x10x10 (3,0,0) 7x10x10 (2,0,0) 1x3x10 (2,5,0) 1x5x10 (2,3,0) 1x2x4 "
              "(2,3,7) 1x2x3 ");
    // Only the overlap is cut; spaces touching the item along a face stay.
    EXPECT_EQ(describe(split_free_spaces({make_free_space(0, 0, 0, 2, 4, 4),
                                          make_free_space(2, 0, 0, 2, 4, 4),
                                          make_free_space(4, 0, 0, 2, 4, 4)},
                                         {placed(2, 2, 0, 2, 5, 9)})),
              "(0,0,0) 2x4x4 (2,0,0) 2x2x4 (4,0,0) 2x4x4 ");
    // Pieces of one item are cut by the next; neighbours are never merged.
    EXPECT_EQ(describe(free_spaces_of(10, 10, 10,
                                      {placed(0, 0, 0, 5, 5, 10), placed(5, 0, 0, 5, 5, 10),
                                       placed(0, 5, 0, 10, 5, 5)})),
              "(5,5,5) 5x5x5 (0,5,5) 5x5x5 ");
}

TEST(FreeSpaces, LowestThenLargestThenWidestFloorFirst) {
    std::vector<FreeSpace> spaces{
        make_free_space(0, 0, 0.5, 9, 9, 9), make_free_space(0, 0, 0, 1, 1, 1),
        make_free_space(0, 0, 0, 2, 5, 20), make_free_space(6, 5, 0, 4, 5, 10),
        make_free_space(0, 0, 0, 10, 5, 4)};
    std::stable_sort(spaces.begin(), spaces.end(), space_before);
    EXPECT_EQ(describe(spaces),
              "(0,0,0) 10x5x4 (6,5,0) 4x5x10 (0,0,0) 2x5x20 (0,0,0) 1x1x1 (0,0,0.5) 9x9x9 ");
    EXPECT_FALSE(space_before(spaces[0], spaces[0]));
}

TEST(FreeSpaces, SplittingASortedListMatchesSplitThenStableSort) {
    // Small whole numbers make many equal keys, so the order of ties counts.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coord(0, 7), size(1, 4), count(1, 3);
    auto random_item = [&]() {
        return placed(coord(rng), coord(rng), coord(rng), size(rng), size(rng), size(rng));
    };
    for (int round = 0; round < 2000; ++round) {
        std::vector<FreeSpace> sorted = free_spaces_of(8, 8, 8, {random_item()});
        std::stable_sort(sorted.begin(), sorted.end(), space_before);
        std::vector<PackedItem> more;
        for (int k = count(rng); k > 0; --k) more.push_back(random_item());
        std::vector<FreeSpace> expected = split_free_spaces(sorted, more);
        std::stable_sort(expected.begin(), expected.end(), space_before);
        split_sorted_free_spaces(sorted, more);
        ASSERT_EQ(describe(sorted), describe(expected)) << round;
    }
    // NaN keys get the plain split and sort.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<FreeSpace> odd{make_free_space(0, 0, nan, 4, 4, 4),
                               make_free_space(0, 0, 0, 4, 4, 4)};
    std::vector<FreeSpace> expected = split_free_spaces(odd, {placed(1, 1, 1, 1, 1, 1)});
    std::stable_sort(expected.begin(), expected.end(), space_before);
    split_sorted_free_spaces(odd, {placed(1, 1, 1, 1, 1, 1)});
    EXPECT_EQ(describe(odd), describe(expected));
}

TEST(FreeSpaces, KeptInOrderAsTheyAreCut) {
    // free_spaces_of, a stable sort, and split_sorted_free_spaces for each
    // cut; the sorted list must give the same spaces in the same order.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> coord(0, 19), size(1, 6), count(1, 40), pick(0, 99);
    for (int round = 0; round < 400; ++round) {
        auto random_item = [&]() {
            // Now and then a NaN, which leaves the order to the stable sort.
            const double z = pick(rng) == 0 ? nan : coord(rng);
            return placed(coord(rng), coord(rng), z, size(rng), size(rng), size(rng));
        };
        std::vector<PackedItem> first;
        for (int k = count(rng); k > 0; --k) first.push_back(random_item());
        std::vector<FreeSpace> expected = split_free_spaces({make_free_space(0, 0, 0, 20, 20, 20)},
                                                            first);
        SortedFreeSpaces<FreeSpace> sorted(20, 20, 20, first);
        ASSERT_EQ(describe(free_spaces_of(20, 20, 20, first)), describe(expected)) << round;
        std::stable_sort(expected.begin(), expected.end(), space_before);
        ASSERT_EQ(describe(sorted.spaces()), describe(expected)) << round;
        for (int cut = 0; cut < 6; ++cut) {
            std::vector<PackedItem> more;
            for (int k = count(rng) % 3 + 1; k > 0; --k) more.push_back(random_item());
            split_sorted_free_spaces(expected, more);
            sorted.split(more);
            ASSERT_EQ(describe(sorted.spaces()), describe(expected)) << round << " " << cut;
        }
    }
}

}  // namespace
}  // namespace stowvex
