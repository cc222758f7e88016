// The optimiser's geometry: orientations of item kinds, blocks and their
// exact positions, maximal free spaces, support from below and the lengths
// rows of items can fill.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "optimiser/block_catalogue.hpp"
#include "optimiser/item_kinds.hpp"
#include "optimiser/maximal_spaces.hpp"
#include "optimiser/reachable_lengths.hpp"
#include "optimiser/support.hpp"

namespace stowvex::optimiser {
namespace {

std::vector<std::string> labels(const std::vector<KindOrientation>& turns) {
    std::vector<std::string> out;
    for (const KindOrientation& t : turns) out.emplace_back(t.label);
    return out;
}

TEST(OptimiserKinds, OrientationsFollowRotationFreedomWithoutRepeats) {
    const auto never = make_item("A", "", 2, 3, 4, 0, "", Rotation::NEVER);
    const auto flat = make_item("A", "", 2, 3, 4, 0, "", Rotation::KEEP_FLAT);
    const auto any = make_item("A", "", 2, 3, 4, 0, "", Rotation::BEST_FIT);
    EXPECT_EQ(labels(orientations_of(*never)), (std::vector<std::string>{"WLD"}));
    EXPECT_EQ(labels(orientations_of(*flat)), (std::vector<std::string>{"WLD", "LWD"}));
    EXPECT_EQ(labels(orientations_of(*any)),
              (std::vector<std::string>{"WLD", "LWD", "WDL", "LDW", "DWL", "DLW"}));
    // "DLW": the item's depth along x, its length along y, its width up.
    EXPECT_EQ(orientations_of(*any)[5].size, (Vec3{4, 3, 2}));
    // Equal sides give equal extents: a square-based item turned flat is one
    // orientation, a cube one of six.
    const auto square = make_item("S", "", 5, 5, 2, 0, "", Rotation::KEEP_FLAT);
    const auto cube = make_item("C", "", 5, 5, 5, 0, "", Rotation::BEST_FIT);
    EXPECT_EQ(labels(orientations_of(*square)), (std::vector<std::string>{"WLD"}));
    EXPECT_EQ(labels(orientations_of(*cube)), (std::vector<std::string>{"WLD"}));
}

TEST(OptimiserKinds, InterchangeableItemsShareAKindInRequestOrder) {
    const std::vector<ItemPtr> items{
        make_item("A", "", 1, 2, 3, 1, "", Rotation::BEST_FIT),
        make_item("B", "", 1, 2, 3, 1, "", Rotation::BEST_FIT),
        make_item("C", "", 1, 2, 3, 2, "", Rotation::BEST_FIT),   // heavier
        make_item("D", "", 1, 2, 3, 1, "", Rotation::KEEP_FLAT),  // less free
        make_item("E", "", 1, 2, 3, 1, "G", Rotation::BEST_FIT),  // in a group
        make_item("F", "", 1, 2, 3, 1, "", Rotation::BEST_FIT),
        make_item("G", "", 3, 2, 1, 1, "G", Rotation::BEST_FIT)};
    const KindTable table = group_into_kinds(items);
    ASSERT_EQ(table.kinds.size(), 5u);
    EXPECT_EQ(table.kinds[0].members, (std::vector<std::size_t>{0, 1, 5}));
    EXPECT_EQ(table.counts(), (std::vector<int>{3, 1, 1, 1, 1}));
    ASSERT_EQ(table.groups, (std::vector<std::string>{"G"}));
    EXPECT_EQ(table.group_kinds[0], (std::vector<int>{3, 4}));
    EXPECT_EQ(table.kinds[3].group, 0);
    EXPECT_EQ(table.kinds[0].group, -1);
}

TEST(OptimiserBlocks, CatalogueRespectsCountsAndBoxAndRanksByVolume) {
    const std::vector<ItemPtr> items(5, make_item("A", "", 2, 3, 1, 0, "", Rotation::NEVER));
    const KindTable table = group_into_kinds(items);
    const BlockCatalogue catalogue(table, table.counts(), Vec3{4, 6, 10}, {});
    ASSERT_GT(catalogue.size(), 0u);
    for (std::size_t r = 0; r < catalogue.size(); ++r) {
        const ItemBlock& b = catalogue[r];
        EXPECT_LE(b.item_count, 5);
        EXPECT_LE(b.size[0], 4.0);
        EXPECT_LE(b.size[1], 6.0);
        EXPECT_LE(b.size[2], 10.0);
        if (r > 0) {
            EXPECT_GE(catalogue[r - 1].volume, b.volume);
        }
    }
    // Copies per axis: 2 along x, 2 along y, 5 up; at most 5 items in all.
    EXPECT_EQ(catalogue.size(), 10u);
    EXPECT_EQ(catalogue[0].count, (std::array<int, 3>{1, 1, 5}));
    EXPECT_EQ(catalogue.first_rank_within(6.0 * 4.0), 1u);
}

TEST(OptimiserBlocks, PositionsAreRunningSumsSoNeighboursShareFaces) {
    ItemBlock b;
    b.item_size = {0.1, 1, 1};
    b.count = {3, 1, 1};
    std::vector<double> xs;
    item_positions(b, 0, 0.2, xs);
    ASSERT_EQ(xs.size(), 4u);
    EXPECT_EQ(xs[1], 0.2 + 0.1);
    EXPECT_EQ(xs[2], xs[1] + 0.1);
    EXPECT_EQ(xs[3], xs[2] + 0.1);
    EXPECT_EQ(far_corner(b, {0.2, 0, 0})[0], xs[3]);
}

TEST(OptimiserMaximalSpaces, CornerPlacementLeavesThreeOverlappingMaximalSpaces) {
    MaximalSpaces spaces(Vec3{10, 10, 10});
    spaces.occupy({{0, 0, 0}, {4, 5, 6}}, [](const Cuboid&) { return true; });
    std::vector<Cuboid> found = spaces.spaces();
    ASSERT_EQ(found.size(), 3u);
    const std::vector<Cuboid> expected{
        {{4, 0, 0}, {10, 10, 10}}, {{0, 5, 0}, {10, 10, 10}}, {{0, 0, 6}, {10, 10, 10}}};
    for (const Cuboid& e : expected) {
        EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const Cuboid& c) {
            return c.low == e.low && c.high == e.high;
        }));
    }
}

TEST(OptimiserMaximalSpaces, PiecesInsideOtherSpacesAndUselessPiecesAreDropped) {
    MaximalSpaces spaces(Vec3{10, 10, 10});
    spaces.occupy({{0, 0, 0}, {10, 10, 4}}, [](const Cuboid&) { return true; });
    spaces.occupy({{0, 0, 4}, {3, 10, 10}}, [](const Cuboid&) { return true; });
    // Left: x 3..10 above z 4, one space.
    ASSERT_EQ(spaces.spaces().size(), 1u);
    EXPECT_EQ(spaces.spaces()[0].low, (Vec3{3, 0, 4}));
    // Cutting a hole in the middle: pieces thinner than 2 are not useful.
    spaces.occupy({{4, 4, 5}, {9, 9, 9}},
                  [](const Cuboid& c) { return c.extent(0) >= 2 && c.extent(1) >= 2; });
    for (const Cuboid& c : spaces.spaces()) {
        EXPECT_GE(c.extent(0), 2);
        EXPECT_GE(c.extent(1), 2);
        EXPECT_FALSE(overlaps(c, Cuboid{{4, 4, 5}, {9, 9, 9}}));
    }
    // A touching cuboid takes nothing.
    const std::size_t before = spaces.spaces().size();
    spaces.occupy({{0, 0, 0}, {3, 10, 4}}, [](const Cuboid&) { return true; });
    EXPECT_EQ(spaces.spaces().size(), before);
}

TEST(OptimiserMaximalSpaces, WaitingSpacesStayAsideUntilWoken) {
    MaximalSpaces spaces(Vec3{10, 10, 10});
    spaces.wait(0);
    EXPECT_TRUE(spaces.waiting(0));
    spaces.wake([](const Cuboid& c) { return c.low[2] == 5; });
    EXPECT_TRUE(spaces.waiting(0));
    spaces.wake([](const Cuboid& c) { return c.low[2] == 0; });
    EXPECT_FALSE(spaces.waiting(0));
    // Pieces cut from a waiting space start awake.
    spaces.occupy({{0, 0, 0}, {10, 10, 2}}, [](const Cuboid&) { return true; });
    spaces.wait(0);
    spaces.occupy({{0, 0, 2}, {1, 1, 3}}, [](const Cuboid&) { return true; });
    for (std::size_t i = 0; i < spaces.spaces().size(); ++i) EXPECT_FALSE(spaces.waiting(i));
}

TEST(OptimiserSupport, ItemsRestOnlyOnTopsAtTheirOwnHeight) {
    TopFaces tops;
    tops.add({{0, 0, 0}, {2, 4, 3}});
    tops.add({{2, 0, 0}, {4, 4, 2}});  // lower
    const Cuboid item{{1, 0, 3}, {3, 4, 5}};
    EXPECT_DOUBLE_EQ(tops.supported_area(item), 4.0);  // half its base of 8
    EXPECT_TRUE(enough_support(4.0, 8.0, 0.5));
    EXPECT_FALSE(enough_support(4.0, 8.0, 0.51));

    const std::vector<Cuboid> load{{{0, 0, 0}, {2, 2, 2}},   // on the floor
                                   {{0, 0, 2}, {2, 2, 3}},   // fully on the first
                                   {{1, 0, 3}, {3, 2, 4}},   // half over the second
                                   {{5, 5, 1}, {6, 6, 2}}};  // floating
    EXPECT_EQ(supported_cuboids(load, 1.0), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(supported_cuboids(load, 0.5), (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(supported_cuboids(load, 0.0), (std::vector<bool>{true, true, true, true}));
}

TEST(OptimiserReachableLengths, WholeSidesAreSummedExactlyOthersUpToThree) {
    const ReachableLengths whole({30, 45}, 200);
    EXPECT_EQ(whole.largest_within(29), 0.0);
    EXPECT_EQ(whole.largest_within(100), 90.0);   // 3 x 30 or 2 x 45
    EXPECT_EQ(whole.largest_within(200), 195.0);  // 5 x 30 + 45
    const ReachableLengths decimal({0.5, 0.75}, 4);
    EXPECT_EQ(decimal.largest_within(1.3), 1.25);
    EXPECT_EQ(decimal.largest_within(4), 2.25);  // three sides at most
    const ReachableLengths none({5}, 4);
    EXPECT_EQ(none.largest_within(4), 0.0);
}

}  // namespace
}  // namespace stowvex::optimiser
