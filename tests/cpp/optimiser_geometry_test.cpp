// The optimiser's geometry: orientations of item kinds, blocks and their
// exact positions, general blocks made of two blocks, maximal free spaces, support from below and
// the lengths rows of items can fill.
#include <algorithm>
#include <array>
#include <random>
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

// Many kinds of a few items each, whole sides or sides in tenths, close
// enough in size that blocks of different kinds nearly match.
KindTable mixed_kinds(std::mt19937& rng, int kinds, bool tenths) {
    std::uniform_int_distribution<int> side(46, 52);
    std::uniform_int_distribution<int> copies(1, 3);
    std::vector<ItemPtr> items;
    for (int k = 0; k < kinds; ++k) {
        const double w = side(rng) + (tenths ? 0.1 * (k % 3 + 1) : 0.0);
        const double l = side(rng);
        const double d = side(rng) + (tenths ? 0.3 : 0.0);
        const auto turn = k % 2 ? Rotation::BEST_FIT : Rotation::KEEP_FLAT;
        const int n = copies(rng);
        for (int c = 0; c < n; ++c) {
            items.push_back(make_item("K" + std::to_string(k), "", w, l, d, 1, "", turn));
        }
    }
    return group_into_kinds(items);
}

struct BlockItem {
    int kind;
    Cuboid cuboid;
};

// The items of a block laid out from `corner`.
std::vector<BlockItem> items_of(const BlockCatalogue& catalogue, const ItemBlock& block,
                                const Vec3& corner) {
    std::vector<BlockItem> out;
    catalogue.for_each_simple(block, corner, [&](const ItemBlock& part, const Vec3& at) {
        EXPECT_FALSE(part.general());
        std::array<std::vector<double>, 3> p;
        for (int a = 0; a < 3; ++a) item_positions(part, a, at[a], p[a]);
        for (int l = 0; l < part.count[2]; ++l) {
            for (int j = 0; j < part.count[1]; ++j) {
                for (int i = 0; i < part.count[0]; ++i) {
                    out.push_back(
                        {part.kind,
                         {{p[0][i], p[1][j], p[2][l]}, {p[0][i + 1], p[1][j + 1], p[2][l + 1]}}});
                }
            }
        }
    });
    return out;
}

// Every general block of the catalogue, laid out at `corner`: its items lie
// inside its far corner without overlap, fill it as asked, and are the
// items it counts, never more of a kind than were offered.
void expect_sound_general_blocks(const BlockCatalogue& catalogue, const KindTable& table,
                                 const Vec3& box, const Vec3& corner, double min_support) {
    const std::vector<int> offered = table.counts();
    for (std::size_t r = 0; r < catalogue.size(); ++r) {
        const ItemBlock& b = catalogue[r];
        if (!b.general()) continue;
        SCOPED_TRACE(r);
        const std::vector<BlockItem> items = items_of(catalogue, b, corner);
        const Vec3 far = catalogue.far_corner(b, corner);
        ASSERT_EQ(static_cast<int>(items.size()), b.item_count);
        std::vector<int> per_kind(offered.size(), 0);
        std::vector<Cuboid> cuboids;
        double volume = 0.0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Cuboid& c = items[i].cuboid;
            for (int a = 0; a < 3; ++a) {
                EXPECT_GE(c.low[a], corner[a]);
                EXPECT_LE(c.high[a], far[a]);
            }
            for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(overlaps(c, items[j].cuboid));
            ++per_kind[items[i].kind];
            volume += table.kinds[items[i].kind].volume;
            cuboids.push_back({{c.low[0], c.low[1], c.low[2] - corner[2]},
                               {c.high[0], c.high[1], c.high[2] - corner[2]}});
        }
        for (int a = 0; a < 3; ++a) EXPECT_LE(b.size[a], box[a]);
        EXPECT_NEAR(volume, b.volume, 1e-9 * b.volume);
        EXPECT_GE(b.volume, 0.98 * b.size[0] * b.size[1] * b.size[2] * (1 - 1e-12));
        std::vector<int> counted(offered.size(), 0);
        for (const auto* u = catalogue.uses_begin(b); u != catalogue.uses_end(b); ++u) {
            counted[u->first] = u->second;
        }
        EXPECT_EQ(counted, per_kind);
        for (std::size_t k = 0; k < offered.size(); ++k) EXPECT_LE(per_kind[k], offered[k]);
        // Set on the floor, every item stands on it or on items of the block.
        if (min_support > 0.0) {
            for (const bool held : supported_cuboids(cuboids, min_support)) EXPECT_TRUE(held);
        }
    }
}

TEST(OptimiserGeneralBlocks, ItemsFitWithoutOverlapCountsHoldAndStacksRestOnFullTops) {
    std::mt19937 rng(11);
    const Vec3 box{200, 240, 180};
    for (int trial = 0; trial < 8; ++trial) {
        SCOPED_TRACE(trial);
        const bool tenths = trial % 2 == 1;
        const double support = trial < 4 ? 0.0 : 1.0;
        const KindTable table = mixed_kinds(rng, 12, tenths);
        CatalogueSettings settings;
        settings.seed = static_cast<std::uint64_t>(trial);
        settings.min_support = support;
        const BlockCatalogue catalogue(table, table.counts(), box, settings);
        EXPECT_GT(catalogue.general_count(), 0u);
        // Also laid at a corner whose sums round when the sides are in
        // tenths (with whole sides every corner is whole).
        const Vec3 corner = tenths ? Vec3{7.7, 33.3, 0} : Vec3{7, 33, 0};
        expect_sound_general_blocks(catalogue, table, box, {0, 0, 0}, support);
        expect_sound_general_blocks(catalogue, table, box, corner, support);
        // Under support, sides whose sums may round are never stacked.
        std::size_t stacked = 0;
        for (std::size_t r = 0; r < catalogue.size(); ++r) stacked += catalogue[r].axis == 2;
        EXPECT_EQ(stacked == 0, tenths && support > 0.0);
    }
}

TEST(OptimiserGeneralBlocks, NoneWithMaxLoadsStopsOrManyItemsAKind) {
    std::mt19937 rng(3);
    const Vec3 box{200, 240, 180};
    KindTable table = mixed_kinds(rng, 10, false);
    ASSERT_GT(BlockCatalogue(table, table.counts(), box, {}).general_count(), 0u);
    CatalogueSettings none;
    none.max_general = 0;
    EXPECT_EQ(BlockCatalogue(table, table.counts(), box, none).general_count(), 0u);

    KindTable loaded = table;
    loaded.kinds[4].max_load = 10.0;
    EXPECT_EQ(BlockCatalogue(loaded, loaded.counts(), box, {}).general_count(), 0u);
    KindTable stopped = table;
    stopped.kinds[2].stop = 1;
    EXPECT_EQ(BlockCatalogue(stopped, stopped.counts(), box, {}).general_count(), 0u);
    // A kind that is not offered does not count.
    std::vector<int> without = loaded.counts();
    without[4] = 0;
    EXPECT_GT(BlockCatalogue(loaded, without, box, {}).general_count(), 0u);
    // Twenty of each: blocks of one kind are large enough.
    std::vector<int> many(table.kinds.size(), 20);
    EXPECT_EQ(BlockCatalogue(table, many, box, {}).general_count(), 0u);
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
    // Faces added at any height count only at their own.
    tops.add({{3, 0, 0}, {4, 4, 3}});
    tops.add({{0, 0, 0}, {1, 1, 1}});
    EXPECT_EQ(tops.count_at(3), 2u);
    EXPECT_EQ(tops.count_at(2), 1u);
    EXPECT_EQ(tops.count_at(2.5), 0u);
    EXPECT_DOUBLE_EQ(tops.supported_area(item), 4.0);  // the new one at 3 lies beyond it
    EXPECT_DOUBLE_EQ(tops.supported_area({{0, 0, 1}, {1, 1, 2}}), 1.0);
    EXPECT_DOUBLE_EQ(tops.supported_area({{2, 0, 3}, {4, 4, 4}}), 4.0);
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
