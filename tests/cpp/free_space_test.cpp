// Working volumes, free spaces left by placed items, and their order.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "engine/free_space.hpp"
#include "engine/working_volume.hpp"

namespace stowvex {
namespace {

PackedItem placed(double x, double y, double z, double w, double l, double d) {
    return PackedItem(make_item("P", "P", w, l, d, 1.0, "", Rotation::NEVER), w, l, d, "WLD", x, y,
                      z);
}

void expect_space(const FreeSpace& s, double x, double y, double z, double w, double l,
                  double d) {
    EXPECT_EQ(s.x, x);
    EXPECT_EQ(s.y, y);
    EXPECT_EQ(s.z, z);
    EXPECT_EQ(s.width, w);
    EXPECT_EQ(s.length, l);
    EXPECT_EQ(s.depth, d);
    EXPECT_EQ(s.volume, w * l * d);
    EXPECT_EQ(s.base_area, w * l);
}

TEST(WorkingVolume, IsABoxWithNothingButASize) {
    const WorkingVolume v(12, 8, 3.5);
    EXPECT_EQ(v.reference(), "Working Volume 12.000000x8.000000x3.500000");
    EXPECT_FALSE(v.has_weight_limit());
    EXPECT_EQ(v.max_item_weight(), -1.0);
    EXPECT_EQ(v.empty_weight(), 0.0);
    EXPECT_EQ(v.max_weight(), -1.0);
    EXPECT_TRUE(v.active());
    EXPECT_EQ(v.inner_volume(), 336.0);
    const nlohmann::json j = v.to_json();
    EXPECT_TRUE(j["MaxWeight"].is_null());
    EXPECT_EQ(j["Reference"], v.reference());
}

TEST(WorkingVolume, ReferenceHoldsEveryDigit) {
    const double huge = std::numeric_limits<double>::max();
    const WorkingVolume v(huge, -huge, 0.0000004);
    const std::string& r = v.reference();
    // 309 integer digits, a point and six decimals per huge number.
    EXPECT_EQ(r.size(), 15u + 316u + 1u + 317u + 1u + 8u);
    EXPECT_EQ(r.substr(r.size() - 9), "x0.000000");
    const WorkingVolume odd(std::numeric_limits<double>::infinity(), 1, 2);
    EXPECT_EQ(odd.reference(), "Working Volume infx1.000000x2.000000");
}

TEST(FreeSpacesOf, EmptyAndFullVolumes) {
    const auto empty = free_spaces_of(10, 20, 30, {});
    ASSERT_EQ(empty.size(), 1u);
    expect_space(empty[0], 0, 0, 0, 10, 20, 30);
    EXPECT_TRUE(free_spaces_of(10, 20, 30, {placed(0, 0, 0, 10, 20, 30)}).empty());
}

TEST(FreeSpacesOf, CutsBySuccessiveItems) {
    const auto after_first = free_spaces_of(10, 10, 10, {placed(0, 0, 0, 6, 10, 10)});
    ASSERT_EQ(after_first.size(), 1u);
    expect_space(after_first[0], 6, 0, 0, 4, 10, 10);

    const auto after_second =
        free_spaces_of(10, 10, 10, {placed(0, 0, 0, 6, 10, 10), placed(6, 0, 0, 4, 5, 5)});
    ASSERT_EQ(after_second.size(), 2u);
    expect_space(after_second[0], 6, 5, 0, 4, 5, 10);
    expect_space(after_second[1], 6, 0, 5, 4, 5, 5);
}

TEST(SplitFreeSpaces, PiecesComeInTheFixedOrder) {
    // An item strictly inside the space leaves all six pieces.
    const auto pieces =
        split_free_spaces({make_free_space(0, 0, 0, 10, 10, 10)}, {placed(2, 3, 4, 1, 2, 3)});
    ASSERT_EQ(pieces.size(), 6u);
    expect_space(pieces[0], 0, 0, 0, 2, 10, 10);  // low x
    expect_space(pieces[1], 3, 0, 0, 7, 10, 10);  // high x
    expect_space(pieces[2], 2, 0, 0, 1, 3, 10);   // low y
    expect_space(pieces[3], 2, 5, 0, 1, 5, 10);   // high y
    expect_space(pieces[4], 2, 3, 0, 1, 2, 4);    // below
    expect_space(pieces[5], 2, 3, 7, 1, 2, 3);    // above
}

TEST(SplitFreeSpaces, OverlapIsCutAndUntouchedSpacesKeepTheirPlace) {
    // The item reaches out of the first space; only the part inside is cut.
    // The second space touches it along a face and stays as it is.
    const auto pieces = split_free_spaces(
        {make_free_space(0, 0, 0, 4, 4, 4), make_free_space(4, 0, 0, 2, 4, 4)},
        {placed(2, 2, 0, 2, 5, 9)});
    ASSERT_EQ(pieces.size(), 3u);
    expect_space(pieces[0], 0, 0, 0, 2, 4, 4);
    expect_space(pieces[1], 2, 0, 0, 2, 2, 4);
    expect_space(pieces[2], 4, 0, 0, 2, 4, 4);
}

TEST(SplitFreeSpaces, PiecesOfOneItemAreCutByTheNext) {
    // The first item leaves (5, 0, 0) and (0, 5, 0); the second cuts the
    // first of them, the third cuts both pieces left. Neighbours are never
    // merged.
    const auto spaces = free_spaces_of(10, 10, 10,
                                       {placed(0, 0, 0, 5, 5, 10), placed(5, 0, 0, 5, 5, 10),
                                        placed(0, 5, 0, 10, 5, 5)});
    ASSERT_EQ(spaces.size(), 2u);
    expect_space(spaces[0], 5, 5, 5, 5, 5, 5);
    expect_space(spaces[1], 0, 5, 5, 5, 5, 5);
}

TEST(SpaceBefore, LowestThenLargestThenWidestFloor) {
    const FreeSpace tall = make_free_space(6, 5, 0, 4, 5, 10);
    const FreeSpace speck = make_free_space(0, 0, 0, 1, 1, 1);
    const FreeSpace raised = make_free_space(0, 0, 0.5, 9, 9, 9);
    const FreeSpace flat = make_free_space(0, 0, 0, 10, 5, 4);
    const FreeSpace narrow = make_free_space(0, 0, 0, 2, 5, 20);
    EXPECT_TRUE(space_before(tall, speck));
    EXPECT_FALSE(space_before(speck, tall));
    EXPECT_TRUE(space_before(speck, raised));
    EXPECT_FALSE(space_before(raised, speck));
    EXPECT_TRUE(space_before(flat, narrow));  // equal volume, larger floor
    EXPECT_FALSE(space_before(narrow, flat));
    EXPECT_FALSE(space_before(flat, flat));

    std::vector<FreeSpace> spaces{raised, speck, narrow, tall, flat};
    std::stable_sort(spaces.begin(), spaces.end(), space_before);
    const double expected_volume[] = {200, 200, 200, 1, 729};
    const double expected_floor[] = {50, 20, 10};  // flat, tall, narrow
    for (int i = 0; i < 3; ++i) EXPECT_EQ(spaces[i].base_area, expected_floor[i]) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(spaces[i].volume, expected_volume[i]) << i;
    EXPECT_EQ(spaces[4].z, 0.5);
}

// Volume of the intersection of two blocks given as corner and size.
double shared_volume(double ax, double ay, double az, double aw, double al, double ad, double bx,
                     double by, double bz, double bw, double bl, double bd) {
    const double w = std::min(ax + aw, bx + bw) - std::max(ax, bx);
    const double l = std::min(ay + al, by + bl) - std::max(ay, by);
    const double d = std::min(az + ad, bz + bd) - std::max(az, bz);
    return (w > 0 && l > 0 && d > 0) ? w * l * d : 0.0;
}

TEST(SplitFreeSpaces, RandomCutsStayDisjointAndCoverTheRest) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> coord(0, 11);
    for (int round = 0; round < 300; ++round) {
        // Disjoint items on a grid of unit cells in a 12 x 12 x 12 volume.
        std::vector<PackedItem> items;
        std::vector<char> used(12 * 12 * 12, 0);
        for (int k = 0; k < 8; ++k) {
            const int x = coord(rng), y = coord(rng), z = coord(rng);
            const int w = 1 + coord(rng) % (12 - x), l = 1 + coord(rng) % (12 - y),
                      d = 1 + coord(rng) % (12 - z);
            bool clash = false;
            for (int i = x; i < x + w; ++i)
                for (int j = y; j < y + l; ++j)
                    for (int h = z; h < z + d; ++h) clash = clash || used[(i * 12 + j) * 12 + h];
            if (clash) continue;
            for (int i = x; i < x + w; ++i)
                for (int j = y; j < y + l; ++j)
                    for (int h = z; h < z + d; ++h) used[(i * 12 + j) * 12 + h] = 1;
            items.push_back(placed(x, y, z, w, l, d));
        }
        const auto spaces = free_spaces_of(12, 12, 12, items);
        double free_volume = 0.0;
        for (std::size_t i = 0; i < spaces.size(); ++i) {
            const FreeSpace& s = spaces[i];
            ASSERT_GT(s.volume, 0.0);
            free_volume += s.volume;
            for (const PackedItem& p : items) {
                EXPECT_EQ(shared_volume(s.x, s.y, s.z, s.width, s.length, s.depth, p.x(), p.y(),
                                        p.z(), p.width(), p.length(), p.depth()),
                          0.0);
            }
            for (std::size_t j = i + 1; j < spaces.size(); ++j) {
                const FreeSpace& t = spaces[j];
                EXPECT_EQ(shared_volume(s.x, s.y, s.z, s.width, s.length, s.depth, t.x, t.y, t.z,
                                        t.width, t.length, t.depth),
                          0.0);
            }
        }
        double item_volume = 0.0;
        for (const PackedItem& p : items) item_volume += p.volume();
        EXPECT_EQ(free_volume + item_volume, 1728.0);
    }
}

bool same_spaces(const std::vector<FreeSpace>& a, const std::vector<FreeSpace>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z ||
            a[i].width != b[i].width || a[i].length != b[i].length || a[i].depth != b[i].depth) {
            return false;
        }
    }
    return true;
}

TEST(SplitSortedFreeSpaces, MatchesSplitThenStableSort) {
    // Small whole numbers give many spaces of equal key, so the order of
    // ties is checked as well.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coord(0, 7), size(1, 4), count(1, 3);
    for (int round = 0; round < 2000; ++round) {
        std::vector<PackedItem> first{placed(coord(rng), coord(rng), coord(rng), size(rng),
                                             size(rng), size(rng))};
        std::vector<FreeSpace> sorted = free_spaces_of(8, 8, 8, first);
        std::stable_sort(sorted.begin(), sorted.end(), space_before);
        std::vector<PackedItem> more;
        const int n = count(rng);
        for (int k = 0; k < n; ++k) {
            more.push_back(placed(coord(rng), coord(rng), coord(rng), size(rng), size(rng),
                                  size(rng)));
        }
        std::vector<FreeSpace> expected = split_free_spaces(sorted, more);
        std::stable_sort(expected.begin(), expected.end(), space_before);
        split_sorted_free_spaces(sorted, more);
        ASSERT_TRUE(same_spaces(sorted, expected)) << round;
    }
    // A space covered whole leaves no piece; the rest keeps its order.
    std::vector<FreeSpace> spaces{make_free_space(0, 0, 0, 2, 2, 2),
                                  make_free_space(2, 0, 0, 1, 1, 1)};
    split_sorted_free_spaces(spaces, {placed(0, 0, 0, 2, 2, 2)});
    ASSERT_EQ(spaces.size(), 1u);
    expect_space(spaces[0], 2, 0, 0, 1, 1, 1);
}

TEST(SpaceBefore, NanSpacesNeverBreakTheSort) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<FreeSpace> spaces;
    for (int i = 0; i < 300; ++i) {
        spaces.push_back(make_free_space(0, 0, (i % 4 == 0) ? nan : i % 7, (i % 5 == 0) ? nan : 1,
                                         1 + i % 3, 1));
    }
    std::stable_sort(spaces.begin(), spaces.end(), space_before);
    EXPECT_EQ(spaces.size(), 300u);
}

}  // namespace
}  // namespace stowvex
