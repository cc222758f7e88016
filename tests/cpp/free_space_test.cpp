// Free spaces left by placed regions, their order, and the queue that keeps
// them in that order as they are cut.
#include "engine/free_space.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/free_space_queue.hpp"

namespace stowvex {
namespace {

Region placed(double x, double y, double z, double w, double l, double d) {
    return Region{x, y, z, w, l, d};
}

// The cut the straightforward way: each region in turn replaces every space
// it overlaps, in place, by its pieces.
std::vector<FreeSpace> split_free_spaces(std::vector<FreeSpace> spaces,
                                         const std::vector<Region>& regions) {
    for (const Region& p : regions) {
        std::vector<FreeSpace> next;
        for (const FreeSpace& s : spaces) {
            if (overlaps(s, p)) {
                append_pieces(s, p, next);
            } else {
                next.push_back(s);
            }
        }
        spaces.swap(next);
    }
    return spaces;
}

std::vector<FreeSpace> spaces_of(double w, double l, double d, const std::vector<Region>& regions,
                                 const double* smallest = nullptr) {
    std::vector<FreeSpace> spaces;
    free_spaces_of(w, l, d, regions, smallest, spaces);
    return spaces;
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

TEST(FreeSpaces, CutByPlacedItemsInTheFixedPieceOrder) {
    EXPECT_EQ(describe(spaces_of(10, 20, 30, {})), "(0,0,0) 10x20x30 ");
    EXPECT_EQ(describe(spaces_of(10, 20, 30, {placed(0, 0, 0, 10, 20, 30)})), "");
    const Region a = placed(0, 0, 0, 6, 10, 10);
    EXPECT_EQ(describe(spaces_of(10, 10, 10, {a})), "(6,0,0) 4x10x10 ");
    EXPECT_EQ(describe(spaces_of(10, 10, 10, {a, placed(6, 0, 0, 4, 5, 5)})),
              "(6,5,0) 4x5x10 (6,0,5) 4x5x5 ");
    // Strictly inside: low x, high x, low y, high y, below, above.
    EXPECT_EQ(describe(spaces_of(10, 10, 10, {placed(2, 3, 4, 1, 2, 3)})),
              "(0,0,0) 2x10x10 (3,0,0) 7x10x10 (2,0,0) 1x3x10 (2,5,0) 1x5x10 (2,3,0) 1x2x4 "
              "(2,3,7) 1x2x3 ");
    // Only the overlap is cut; spaces touching the item along a face stay.
    EXPECT_EQ(describe(split_free_spaces(
                  {make_free_space(0, 0, 0, 2, 4, 4), make_free_space(2, 0, 0, 2, 4, 4),
                   make_free_space(4, 0, 0, 2, 4, 4)},
                  {placed(2, 2, 0, 2, 5, 9)})),
              "(0,0,0) 2x4x4 (2,0,0) 2x2x4 (4,0,0) 2x4x4 ");
    // Pieces of one item are cut by the next; neighbours are never merged.
    EXPECT_EQ(describe(spaces_of(10, 10, 10,
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

// Few regions are searched along the list, many through the index of regions;
// both give the straightforward list, and leave out spaces too small for what
// is to come with everything cut from them.
TEST(FreeSpaces, CutSpaceGivesTheListOfCuttingRegionByRegion) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> coord(0, 29), size(1, 9), pick(0, 9);
    for (int round = 0; round < 300; ++round) {
        const double unit = round % 3 == 2 ? 0.1 : 1.0;
        const std::size_t count = round % 2 == 0 ? 1 + pick(rng) * 3 : 17 + pick(rng) * 20;
        std::vector<Region> regions;
        for (std::size_t k = 0; k < count; ++k) {
            regions.push_back(placed(coord(rng) * unit, coord(rng) * unit, coord(rng) * unit,
                                     size(rng) * unit, size(rng) * unit, size(rng) * unit));
        }
        const FreeSpace space = make_free_space(unit, 2 * unit, 0, 25 * unit, 28 * unit, 30 * unit);
        std::vector<FreeSpace> cut;
        cut_space(space, regions, nullptr, cut);
        const std::vector<FreeSpace> expected = split_free_spaces({space}, regions);
        ASSERT_EQ(describe(cut), describe(expected)) << round;
        if (unit == 1.0) {
            const double smallest[3] = {2, 3, 5};
            std::vector<FreeSpace> kept;
            for (const FreeSpace& s : expected) {
                if (!too_small(s, smallest)) kept.push_back(s);
            }
            cut.clear();
            cut_space(space, regions, smallest, cut);
            ASSERT_EQ(describe(cut), describe(kept)) << round;
        }
    }
}

// The same to the bit, for regions laid out as rows and layers are (the
// index's best case) and scattered ones, some of them infinite or NaN, which
// the index must not skip.
TEST(FreeSpaces, CutSpaceMatchesTheStraightforwardListBitForBit) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double odd[] = {std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(), 1e308, -0.0};
    for (int round = 0; round < 200; ++round) {
        std::vector<Region> regions;
        const bool rows = round % 2 == 0;
        double x = 0.0, y = 0.0, z = 0.0;
        const std::size_t count = 1 + rng() % 120;
        for (std::size_t k = 0; k < count; ++k) {
            const double w = 1.0 + 9.0 * unit(rng), l = 1.0 + 9.0 * unit(rng),
                         d = 1.0 + 9.0 * unit(rng);
            if (rows) {
                if (x + w > 60.0) x = 0.0, y += 10.0;
                if (y > 50.0) y = 0.0, z += 10.0;
                regions.push_back(placed(x, y, z, w, l, d));
                x += w;
            } else {
                regions.push_back(placed(60 * unit(rng), 60 * unit(rng), 60 * unit(rng), w, l, d));
            }
        }
        if (round % 5 == 4) {
            Region& p = regions[rng() % regions.size()];
            double* faces[] = {&p.x, &p.y, &p.z, &p.width, &p.length, &p.depth};
            *faces[rng() % 6] = odd[rng() % 5];
        }
        const FreeSpace space = make_free_space(0, 0, 0, 60, 60, 60);
        std::vector<FreeSpace> cut;
        cut_space(space, regions, nullptr, cut);
        const std::vector<FreeSpace> expected = split_free_spaces({space}, regions);
        ASSERT_EQ(cut.size(), expected.size()) << round;
        for (std::size_t k = 0; k < cut.size(); ++k) {
            ASSERT_EQ(std::memcmp(&cut[k], &expected[k], sizeof(FreeSpace)), 0)
                << round << " " << k;
        }
    }
}

TEST(FreeSpaces, TooSmallComparesSortedExtentsRankByRank) {
    const double smallest[3] = {1, 2, 4};
    EXPECT_FALSE(too_small(make_free_space(0, 0, 0, 4, 2, 1), smallest));
    EXPECT_TRUE(too_small(make_free_space(0, 0, 0, 4, 1.5, 1.5), smallest));
    EXPECT_FALSE(too_small(make_free_space(0, 0, 0, 4, 1.5, 9), smallest));
    EXPECT_TRUE(too_small(make_free_space(0, 0, 0, 0.5, 9, 9), smallest));
    // Dropped as it is made, with everything it would be cut into later.
    EXPECT_EQ(describe(spaces_of(10, 10, 10, {placed(0, 0, 0, 9.5, 10, 10)}, smallest)), "");
    EXPECT_EQ(describe(spaces_of(0.5, 10, 10, {}, smallest)), "");
}

// The order the packer tries free spaces in, the straightforward way: the
// whole list, a stable sort after every cut, and a mark on each space that
// took nothing.
class ListedSpaces {
public:
    ListedSpaces(double w, double l, double d, const std::vector<Region>& placed) {
        for (const FreeSpace& s : spaces_of(w, l, d, placed)) list_.push_back({s, false});
        sort();
    }
    const FreeSpace* next(const double smallest[3]) {
        while (cursor_ < list_.size() &&
               (list_[cursor_].second || too_small(list_[cursor_].first, smallest))) {
            ++cursor_;
        }
        return cursor_ < list_.size() ? &list_[cursor_].first : nullptr;
    }
    void reject() { list_[cursor_].second = true; }
    void fill(const std::vector<Region>& regions) {
        std::vector<std::pair<FreeSpace, bool>> split;
        for (const auto& t : list_) {
            if (std::none_of(regions.begin(), regions.end(),
                             [&t](const Region& b) { return overlaps(t.first, b); })) {
                split.push_back(t);
                continue;
            }
            for (const FreeSpace& piece : split_free_spaces({t.first}, regions)) {
                split.push_back({piece, false});
            }
        }
        list_.swap(split);
        sort();
    }

private:
    void sort() {
        std::stable_sort(list_.begin(), list_.end(), [](const auto& a, const auto& b) {
            return space_before(a.first, b.first);
        });
        cursor_ = 0;
    }
    std::vector<std::pair<FreeSpace, bool>> list_;
    std::size_t cursor_ = 0;
};

std::string describe(const FreeSpace* s) {
    return s ? describe(std::vector<FreeSpace>{*s}) : "none";
}

// The queue gives the spaces of the listed way, in the same order, while the
// first space takes regions or nothing, again and again. Whole numbers, where
// the packer's arithmetic is exact, make many equal keys, so the order of
// ties counts; with tenths and fractions of a third, regions placed into a
// space may overlap its neighbours by a rounding step, and such neighbours
// are cut as well, also when they took nothing.
TEST(FreeSpaceQueue, TriesSpacesInTheListedOrderAsTheyAreCut) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> coord(0, 19), size(1, 6), count(1, 30), pick(0, 9);
    for (int round = 0; round < 500; ++round) {
        const int kind = round % 4;  // 0, 1: whole numbers; 2: tenths; 3: thirds
        const double unit = kind < 2 ? 1.0 : (kind == 2 ? 0.1 : 1.0 / 3.0);
        const double side = 20 * unit;
        std::vector<Region> first;
        for (int k = count(rng); k > 0; --k) {
            first.push_back(placed(coord(rng) * unit, coord(rng) * unit, coord(rng) * unit,
                                   size(rng) * unit, size(rng) * unit, size(rng) * unit));
        }
        // With whole numbers, the queue may drop spaces too small for the
        // items still to come.
        const double none[3] = {0, 0, 0};
        const double some[3] = {1, 1, 2};
        const double* smallest = kind == 1 ? some : none;
        ListedSpaces listed(side, side, side, first);
        FreeSpaceQueue queue;
        queue.reset(side, side, side, first, kind < 2, smallest);
        SCOPED_TRACE(round);
        for (int step = 0; step < 40; ++step) {
            const FreeSpace* expected = listed.next(smallest);
            ASSERT_EQ(describe(queue.next()), describe(expected)) << step;
            if (expected == nullptr) break;
            if (pick(rng) < 6) {
                listed.reject();
                queue.reject();
                continue;
            }
            // Regions inside the space, from its corner; without exact
            // measures each placed where its sizes add up to.
            const FreeSpace s = *expected;
            std::vector<Region> regions;
            double x = s.x;
            for (int k = 1 + pick(rng) % 3; k > 0; --k) {
                const double w = std::min(s.width, std::max(unit, s.width / (2 + pick(rng))));
                if (x + w > s.x + s.width) break;
                regions.push_back(placed(x, s.y, s.z, w, s.length, std::min(s.depth, unit)));
                x = x + w;
            }
            if (regions.empty())
                regions.push_back(placed(s.x, s.y, s.z, s.width, s.length, s.depth));
            listed.fill(regions);
            queue.fill(regions, smallest);
        }
    }
}

// Volumes so large that sums overflow, and NaN measures, leave keys that are
// NaN: the queue keeps the whole list and sorts it as the listed way does.
TEST(FreeSpaceQueue, KeepsTheWholeListForInfiniteAndNaNMeasures) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double none[3] = {0, 0, 0};
    for (const double odd : {inf, nan, 1.7976931348623157e308}) {
        const std::vector<Region> first{placed(0, 0, 0, 2, 2, 2), placed(3, 1, nan, 1, 1, 1),
                                        placed(1e308, 0, 0, 1e308, 4, 4)};
        ListedSpaces listed(odd, 10, 10, first);
        FreeSpaceQueue queue;
        queue.reset(odd, 10, 10, first, false, none);
        for (int step = 0; step < 12; ++step) {
            const FreeSpace* expected = listed.next(none);
            ASSERT_EQ(describe(queue.next()), describe(expected)) << odd << " " << step;
            if (expected == nullptr) break;
            if (step % 3 == 0) {
                listed.reject();
                queue.reject();
                continue;
            }
            const std::vector<Region> regions{
                placed(expected->x, expected->y, expected->z, 1, 1, 1)};
            listed.fill(regions);
            queue.fill(regions, none);
        }
    }
}

}  // namespace
}  // namespace stowvex
