// The single-box packer: cursor rules, rows and layers, free spaces, weight
// budgets, item identity, and soundness of random packings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/orientation.hpp"
#include "engine/single_box_packer.hpp"

namespace stowvex {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

ItemPtr never(const std::string& code, double w, double l, double d, double weight = 1.0) {
    return make_item(code, code, w, l, d, weight, "", Rotation::NEVER);
}

BoxPtr box(double w, double l, double d, double max_weight = -1.0, double empty = 0.0) {
    return make_box("B", w, l, d, max_weight, empty, true, std::nullopt);
}

ItemList list_of(const std::vector<ItemPtr>& items) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    for (const ItemPtr& i : items) list.add(i);
    return list;
}

void expect_at(const PackedItem& p, const ItemPtr& item, double x, double y, double z) {
    EXPECT_EQ(p.item(), item) << p.item()->item_code();
    EXPECT_EQ(p.x(), x) << p.item()->item_code();
    EXPECT_EQ(p.y(), y) << p.item()->item_code();
    EXPECT_EQ(p.z(), z) << p.item()->item_code();
}

std::vector<std::string> codes(const PackedBox& packed) {
    std::vector<std::string> out;
    for (const PackedItem& p : packed.items()) out.push_back(p.item()->item_code());
    return out;
}

TEST(PlaceAtCursor, CurrentRowThenNewRowThenNewLayer) {
    // A volume whose origin is (1, 2, 3) and size 10 x 10 x 10.
    PlacementCursor c;
    c.x = 1;
    c.y = 2;
    c.z = 3;
    auto place = [&c](const ItemPtr& item) {
        return SingleBoxPacker::place_at_cursor(item, c, 1, 2, 3, 10, 10, 10);
    };

    const ItemPtr a = never("a", 6, 4, 2);
    auto p = place(a);
    ASSERT_TRUE(p);
    expect_at(*p, a, 1, 2, 3);
    EXPECT_EQ(c.x, 7);
    EXPECT_EQ(c.row_length, 4);
    EXPECT_EQ(c.layer_depth, 2);

    // Turned to fill the 4 left in the row, and longer than the row so far.
    const ItemPtr b = make_item("b", "b", 5, 3, 1, 1, "", Rotation::BEST_FIT);
    p = place(b);
    ASSERT_TRUE(p);
    expect_at(*p, b, 7, 2, 3);
    EXPECT_EQ(p->orientation(), "LWD");
    EXPECT_EQ(c.x, 10);
    EXPECT_EQ(c.row_length, 5);

    // New row behind the longest item, turned against the new row's extent.
    const ItemPtr r = make_item("r", "r", 2, 5, 2, 1, "", Rotation::BEST_FIT);
    p = place(r);
    ASSERT_TRUE(p);
    expect_at(*p, r, 1, 7, 3);
    EXPECT_EQ(p->orientation(), "LWD");
    EXPECT_EQ(c.x, 6);
    EXPECT_EQ(c.y, 7);
    EXPECT_EQ(c.row_length, 2);
    EXPECT_EQ(c.layer_depth, 2);

    // Fits neither the row nor a new row: new layer from the volume's corner.
    const ItemPtr l = never("l", 8, 8, 8);
    p = place(l);
    ASSERT_TRUE(p);
    expect_at(*p, l, 1, 2, 5);
    EXPECT_EQ(c.x, 9);
    EXPECT_EQ(c.y, 2);
    EXPECT_EQ(c.z, 5);
    EXPECT_EQ(c.row_length, 8);
    EXPECT_EQ(c.layer_depth, 8);

    // Fits nowhere: the cursor stays exactly as it was.
    const PlacementCursor before = c;
    EXPECT_FALSE(place(never("n", 9, 9, 9)));
    EXPECT_EQ(c.x, before.x);
    EXPECT_EQ(c.y, before.y);
    EXPECT_EQ(c.z, before.z);
    EXPECT_EQ(c.row_length, before.row_length);
    EXPECT_EQ(c.layer_depth, before.layer_depth);
}

TEST(PackBox, EmptyListAndWholeBoxItem) {
    const BoxPtr b = box(10, 10, 10);
    const PackedBox empty = SingleBoxPacker(b).pack_box(list_of({}));
    EXPECT_EQ(empty.item_count(), 0u);
    EXPECT_EQ(empty.box(), b);

    const ItemPtr whole = never("whole", 10, 10, 10);
    const PackedBox full = SingleBoxPacker(b).pack_box(list_of({whole, never("tiny", 1, 1, 1)}));
    ASSERT_EQ(full.item_count(), 1u);
    expect_at(full.items()[0], whole, 0, 0, 0);
}

TEST(PackBox, ThreeCubesOpenANewRow) {
    const ItemPtr a = never("a", 5, 5, 5), b = never("b", 5, 5, 5), c = never("c", 5, 5, 5);
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10)).pack_box(list_of({c, a, b}));
    ASSERT_EQ(packed.item_count(), 3u);
    expect_at(packed.items()[0], a, 0, 0, 0);
    expect_at(packed.items()[1], b, 5, 0, 0);
    expect_at(packed.items()[2], c, 0, 5, 0);
    for (const PackedItem& p : packed.items()) EXPECT_EQ(p.orientation(), "WLD");
}

TEST(PackVolume, UsedUpLengthGoesStraightToANewLayer) {
    // After the first item the row has used the whole length. A new row of
    // length 0 would take the flat second item; it must not be opened.
    const ItemPtr a = never("a", 10, 10, 5), flat = never("flat", 10, 0, 5);
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10)).pack_volume({a, flat}, -1, 4);
    ASSERT_EQ(packed.item_count(), 2u);
    expect_at(packed.items()[1], flat, 0, 0, 5);
}

struct Abcd {
    ItemPtr a = never("A", 6, 10, 10);
    ItemPtr b = never("B", 5, 5, 5);
    ItemPtr c = never("C", 4, 5, 5);
    ItemPtr d = never("D", 4, 5, 5);
};

TEST(PackBox, SkippedItemLandsInTheFirstFreeSpace) {
    Abcd t;
    const PackedBox packed =
        SingleBoxPacker(box(10, 10, 10)).pack_box(list_of({t.d, t.c, t.b, t.a}));
    ASSERT_EQ(codes(packed), (std::vector<std::string>{"A", "C", "D"}));
    expect_at(packed.items()[0], t.a, 0, 0, 0);
    expect_at(packed.items()[1], t.c, 6, 0, 0);
    expect_at(packed.items()[2], t.d, 6, 5, 0);
}

TEST(PackVolume, FreeSpacesStopAtTheNestingLimit) {
    Abcd t;
    const SingleBoxPacker packer(box(10, 10, 10));
    const std::vector<ItemPtr> items{t.a, t.b, t.c, t.d};
    EXPECT_EQ(codes(packer.pack_volume(items, -1, 3)), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_EQ(codes(packer.pack_volume(items, -1, 4)), (std::vector<std::string>{"A", "C"}));
}

TEST(PackVolume, LowerFreeSpaceIsTriedBeforeALargerHigherOne) {
    // C leaves (6, 8, 0) of 4 x 2 x 10 and the larger (6, 0, 5) of 4 x 8 x 5.
    const ItemPtr a = never("A", 6, 10, 10), c = never("C", 4, 8, 5), d = never("D", 4, 2, 5);
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10)).pack_volume({a, c, d}, -1, 0);
    ASSERT_EQ(packed.item_count(), 3u);
    expect_at(packed.items()[2], d, 6, 8, 0);
}

TEST(PackVolume, LargerFreeSpaceFirstAtEqualHeight) {
    // The row X, Y, Z leaves (7, 5, 0) of 3 x 5 x 10 behind Z and, listed
    // after it, the larger (4, 3, 0) of 3 x 7 x 10 behind Y. D fits both.
    const ItemPtr x = never("X", 4, 10, 10), y = never("Y", 3, 3, 10), z = never("Z", 3, 5, 10),
                  d = never("D", 3, 5, 10);
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10)).pack_volume({x, y, z, d}, -1, 0);
    ASSERT_EQ(packed.item_count(), 4u);
    expect_at(packed.items()[3], d, 4, 3, 0);
}

TEST(PackVolume, SearchRestartsFromTheFirstSpaceAfterASuccess) {
    // Free spaces (6, 5, 0) of 4 x 5 x 10, then (6, 0, 5) of 4 x 5 x 5. The
    // first, one level above the limit, takes P1 and P2 by rows only and
    // leaves (7, 6, 0) of 3 x 4 x 10 behind P2. Q fits that and the second
    // space; the new piece is lower, so a restarted search puts Q there.
    const ItemPtr x = never("X", 6, 10, 10), c = never("C", 4, 5, 5), p1 = never("P1", 1, 5, 10),
                  p2 = never("P2", 3, 1, 10), q = never("Q", 3, 4, 5);
    const PackedBox packed =
        SingleBoxPacker(box(10, 10, 10)).pack_volume({x, c, p1, p2, q}, -1, 3);
    ASSERT_EQ(codes(packed), (std::vector<std::string>{"X", "C", "P1", "P2", "Q"}));
    expect_at(packed.items()[2], p1, 6, 5, 0);
    expect_at(packed.items()[3], p2, 7, 5, 0);
    expect_at(packed.items()[4], q, 7, 6, 0);
}

TEST(PackBox, WeightBudgetOfZeroTakesOnlyWeightlessItems) {
    const ItemPtr light = never("light", 1, 1, 1, 0.0), heavy = never("heavy", 2, 2, 2, 0.5);
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10, 5, 5)).pack_box(list_of({light, heavy}));
    EXPECT_EQ(codes(packed), (std::vector<std::string>{"light"}));
    const ItemPtr huge = never("huge", 1, 1, 1, 1e300);
    EXPECT_EQ(SingleBoxPacker(box(10, 10, 10)).pack_box(list_of({huge})).item_count(), 1u);
}

TEST(PackVolume, BudgetMayBeReachedExactly) {
    const std::vector<ItemPtr> items{never("six", 1, 1, 1, 6), never("four", 1, 1, 1, 4),
                                     never("crumb", 1, 1, 1, 0.25), never("zero", 1, 1, 1, 0)};
    const PackedBox packed = SingleBoxPacker(box(10, 10, 10)).pack_volume(items, 10, 0);
    EXPECT_EQ(codes(packed), (std::vector<std::string>{"six", "four", "zero"}));
}

TEST(PackBox, FreeSpacesGetWhatIsLeftOfTheBudget) {
    // Stage 1 places A and C (weight 9 of 10); D goes into a free space only
    // if it weighs no more than the 1 left.
    for (double d_weight : {1.0, 1.25}) {
        Abcd t;
        t.a = never("A", 6, 10, 10, 6);
        t.c = never("C", 4, 5, 5, 3);
        t.d = never("D", 4, 5, 5, d_weight);
        const PackedBox packed = SingleBoxPacker(box(10, 10, 10, 12, 2))
                                     .pack_volume({t.a, t.b, t.c, t.d}, 10, 0);
        const std::vector<std::string> expected =
            d_weight == 1.0 ? std::vector<std::string>{"A", "C", "D"}
                            : std::vector<std::string>{"A", "C"};
        EXPECT_EQ(codes(packed), expected) << d_weight;
    }
}

TEST(PackBox, AnItemObjectIsPlacedOnlyOnce) {
    const ItemPtr twice = never("x", 2, 2, 2);
    const ItemPtr twin = never("x", 2, 2, 2);  // same values, another object
    const PackedBox packed =
        SingleBoxPacker(box(10, 10, 10)).pack_box(list_of({twice, twin, twice}));
    ASSERT_EQ(packed.item_count(), 2u);
    EXPECT_NE(packed.items()[0].item(), packed.items()[1].item());

    // Also when the repeated entries only fit in free spaces.
    Abcd t;
    const PackedBox spaced =
        SingleBoxPacker(box(10, 10, 10)).pack_volume({t.a, t.c, t.d, t.d}, -1, 0);
    EXPECT_EQ(codes(spaced), (std::vector<std::string>{"A", "C", "D"}));
}

TEST(PackBox, LeavesTheListAloneAndRepeatsItself) {
    Abcd t;
    const ItemList items = list_of({t.d, t.c, t.b, t.a});
    const std::vector<ItemPtr> before = items.elements();
    const SingleBoxPacker packer(box(10, 10, 10));
    const PackedBox first = packer.pack_box(items);
    const PackedBox second = packer.pack_box(items);
    EXPECT_EQ(items.elements(), before);
    ASSERT_EQ(first.item_count(), second.item_count());
    for (std::size_t i = 0; i < first.item_count(); ++i) {
        const PackedItem& p = first.items()[i];
        const PackedItem& q = second.items()[i];
        EXPECT_EQ(p.item(), q.item());
        EXPECT_EQ(p.orientation(), q.orientation());
        EXPECT_EQ(p.x(), q.x());
        EXPECT_EQ(p.y(), q.y());
        EXPECT_EQ(p.z(), q.z());
    }
}

TEST(PackBox, NegativeSizedItemsAreNeverPlaced) {
    const ItemPtr negative = make_item("neg", "neg", -5, 5, 5, 1, "", Rotation::BEST_FIT);
    const ItemPtr a = never("a", 5, 5, 5), b = never("b", 5, 5, 5);
    const PackedBox packed =
        SingleBoxPacker(box(10, 10, 10)).pack_volume({a, negative, b}, -1, 0);
    EXPECT_EQ(codes(packed), (std::vector<std::string>{"a", "b"}));
    expect_at(packed.items()[1], b, 5, 0, 0);
}

// Volume shared by two placements; 0 when they only touch.
double shared_volume(const PackedItem& a, const PackedItem& b) {
    const double w = std::min(a.x() + a.width(), b.x() + b.width()) - std::max(a.x(), b.x());
    const double l = std::min(a.y() + a.length(), b.y() + b.length()) - std::max(a.y(), b.y());
    const double d = std::min(a.z() + a.depth(), b.z() + b.depth()) - std::max(a.z(), b.z());
    return (w > 0 && l > 0 && d > 0) ? w * l * d : 0.0;
}

// Every placement lies inside the box, no two overlap, each item object is
// placed once, and each placement is an allowed orientation of its item.
void expect_sound(const PackedBox& packed, const std::vector<ItemPtr>& offered) {
    const Box& b = *packed.box();
    std::unordered_set<const Item*> seen;
    for (std::size_t i = 0; i < packed.item_count(); ++i) {
        const PackedItem& p = packed.items()[i];
        ASSERT_FALSE(std::isnan(p.x()) || std::isnan(p.y()) || std::isnan(p.z()));
        EXPECT_TRUE(p.x() >= 0 && p.y() >= 0 && p.z() >= 0) << i;
        EXPECT_TRUE(p.width() >= 0 && p.length() >= 0 && p.depth() >= 0) << i;
        EXPECT_LE(p.x() + p.width(), b.width()) << i;
        EXPECT_LE(p.y() + p.length(), b.length()) << i;
        EXPECT_LE(p.z() + p.depth(), b.depth()) << i;
        EXPECT_TRUE(seen.insert(p.item().get()).second) << "placed twice: " << i;
        EXPECT_NE(std::find(offered.begin(), offered.end(), p.item()), offered.end());
        bool allowed = false;
        for (const OrientationCandidate& c : orientations_of(p.item())) {
            allowed = allowed || (c.orientation == p.orientation() && c.width == p.width() &&
                                  c.length == p.length() && c.depth == p.depth());
        }
        EXPECT_TRUE(allowed) << p.orientation();
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_EQ(shared_volume(p, packed.items()[j]), 0.0) << i << " overlaps " << j;
        }
    }
}

TEST(PackBox, RandomPackingsAreSound) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> box_side(1, 24), item_side(1, 12), count(0, 40),
        rotation(0, 2), quarter(0, 16);
    for (int round = 0; round < 400; ++round) {
        const double max_weight = round % 3 == 0 ? -1.0 : quarter(rng) * 4.0;
        const BoxPtr b = box(box_side(rng), box_side(rng), box_side(rng), max_weight, 1.0);
        ItemList items(std::make_shared<DefaultItemSorter>());
        std::vector<ItemPtr> offered;
        const int n = count(rng);
        for (int k = 0; k < n; ++k) {
            offered.push_back(make_item("i" + std::to_string(k), "", item_side(rng),
                                        item_side(rng), item_side(rng), quarter(rng) * 0.25, "",
                                        static_cast<Rotation>(rotation(rng))));
            items.add(offered.back());
            if (k % 9 == 4) items.add(offered.back());  // the same object again
        }
        const PackedBox packed = SingleBoxPacker(b).pack_box(items);
        SCOPED_TRACE(round);
        expect_sound(packed, offered);
        if (b->has_weight_limit()) {
            EXPECT_LE(packed.item_weight(), b->max_item_weight());
        }
        EXPECT_EQ(codes(SingleBoxPacker(b).pack_box(items)), codes(packed));
    }
}

TEST(PackBox, OddMeasuresNeverBreakThePacking) {
    const double sides[] = {kNan, kInf, -kInf, -3, 0, -0.0, 1, 2.5, 4, 7, 1e308};
    const double weights[] = {kNan, kInf, -1, 0, 1, 2.5};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> side(0, 10), weight(0, 5), count(0, 25), rotation(0, 2),
        limit(-1, 6);
    for (int round = 0; round < 500; ++round) {
        // Mostly ordinary boxes, so that the odd items meet real packings.
        auto box_side = [&]() { return round % 4 == 0 ? sides[side(rng)] : 4.0 + side(rng); };
        const double max_weight = limit(rng) < 0 ? -1.0 : weights[weight(rng)];
        const BoxPtr b = box(box_side(), box_side(), box_side(), max_weight, 0.0);
        ItemList items(std::make_shared<DefaultItemSorter>());
        std::vector<ItemPtr> offered;
        const int n = count(rng);
        for (int k = 0; k < n; ++k) {
            offered.push_back(make_item("i" + std::to_string(k), "", sides[side(rng)],
                                        sides[side(rng)], sides[side(rng)], weights[weight(rng)],
                                        "", static_cast<Rotation>(rotation(rng))));
            items.add(offered.back());
        }
        SCOPED_TRACE(round);
        expect_sound(SingleBoxPacker(b).pack_box(items), offered);
    }
}

}  // namespace
}  // namespace stowvex
