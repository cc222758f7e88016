// The single-box packer: cursor rules, rows and layers, free spaces, weight
// budgets, item identity, and soundness of random packings.
#include "engine/single_box_packer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/orientation.hpp"
#include "engine/packing.hpp"
#include "model/sorted_collection.hpp"

namespace stowvex {
namespace {

ItemPtr never(const std::string& code, double w, double l, double d, double weight = 1) {
    return make_item(code, code, w, l, d, weight, "", Rotation::NEVER);
}

BoxPtr box(double max_weight = -1, double empty = 0) {
    return make_box("B", 10, 10, 10, max_weight, empty, true, std::nullopt);
}

// The list's items, in sorted-view order, packed into one box.
PackedBox pack_list(const SingleBoxPacker& packer, const ItemList& items) {
    return packer.pack_box(PackingItems(items.sorted_view()));
}

ItemList list_of(const std::vector<ItemPtr>& items) {
    ItemList list(std::make_shared<DefaultItemSorter>());
    for (const ItemPtr& i : items) list.add(i);
    return list;
}

std::string position_of(const PackedItem& p) {
    char text[128];
    std::snprintf(text, sizeof text, "%g,%g,%g", p.x(), p.y(), p.z());
    return text;
}

// "code@x,y,z" for each placement, in placement order.
std::string layout(const PackedBox& packed) {
    std::string out;
    for (const PackedItem& p : packed.items()) {
        out += p.item()->item_code() + "@" + position_of(p) + " ";
    }
    return out;
}

// Layout of the items packed, in the given order, into a 10 x 10 x 10 volume
// at the given nesting depth (0: the box itself; 4: rows and layers only):
// "code@x,y,z", with the orientation label before it when asked for.
std::string pack(const std::vector<ItemPtr>& items, double budget = -1, int depth = 0,
                 bool labels = false) {
    const PackingItems read(items);
    Packing packing(read, false);
    std::vector<PlacedEntry> placements;
    packing.pack(10, 10, 10, budget, depth, placements);
    std::string out;
    for (const PlacedEntry& p : placements) {
        const PackedItem placed = packing.packed_item(p);
        if (labels) out += placed.orientation() + ":";
        out += placed.item()->item_code() + "@" + position_of(placed) + " ";
    }
    return out;
}

ItemPtr turnable(const std::string& code, double w, double l, double d) {
    return make_item(code, code, w, l, d, 1, "", Rotation::BEST_FIT);
}

TEST(PlaceAtCursor, CurrentRowThenNewRowThenNewLayer) {
    EXPECT_EQ(pack({never("a", 6, 4, 2),
                    // turned to fill the rest of the row, longer than the row so far
                    turnable("b", 5, 3, 1),
                    // a new row behind the longest item, turned against the new extent
                    turnable("c", 2, 5, 2),
                    // neither the row nor a new row: a new layer on the tallest item
                    never("d", 8, 8, 8),
                    // fits nowhere; the cursor stays, and "f" still follows "d"
                    never("e", 9, 9, 9), never("f", 2, 1, 1)},
                   -1, 4, true),
              "WLD:a@0,0,0 LWD:b@6,0,0 LWD:c@0,5,0 WLD:d@0,0,2 WLD:f@8,0,2 ");
}

TEST(PackBox, RowsLayersAndFreeSpaces) {
    const SingleBoxPacker packer(box());
    const PackedBox empty = pack_list(packer, list_of({}));
    EXPECT_EQ(empty.item_count(), 0u);
    EXPECT_EQ(empty.box(), packer.box());
    EXPECT_EQ(pack({never("whole", 10, 10, 10), never("t", 1, 1, 1)}), "whole@0,0,0 ");
    const ItemPtr a = never("a", 5, 5, 5), b = never("b", 5, 5, 5), c = never("c", 5, 5, 5);
    EXPECT_EQ(layout(pack_list(packer, list_of({c, a, b}))), "a@0,0,0 b@5,0,0 c@0,5,0 ");
    // The row has used the whole length: no new row of length 0 is opened
    // for the flat item, which goes to a new layer.
    EXPECT_EQ(pack({never("a", 10, 10, 5), never("flat", 10, 0, 5)}, -1, 4), "a@0,0,0 flat@0,0,5 ");
    // D is skipped by the rows and lands in the first free space; B fits none.
    const std::vector<ItemPtr> abcd{never("A", 6, 10, 10), never("B", 5, 5, 5), never("C", 4, 5, 5),
                                    never("D", 4, 5, 5)};
    EXPECT_EQ(layout(pack_list(packer, list_of({abcd[3], abcd[2], abcd[1], abcd[0]}))),
              "A@0,0,0 C@6,0,0 D@6,5,0 ");
    EXPECT_EQ(pack(abcd, -1, 4), "A@0,0,0 C@6,0,0 ");  // nesting limit: rows only
}

TEST(PackVolume, FreeSpaceOrderAndRestartAfterEachSuccess) {
    // Lowest first: (6, 8, 0) of 4 x 2 x 10 before the larger (6, 0, 5).
    EXPECT_EQ(pack({never("A", 6, 10, 10), never("C", 4, 8, 5), never("D", 4, 2, 5)}),
              "A@0,0,0 C@6,0,0 D@6,8,0 ");
    // Largest first at equal height: (4, 3, 0) of 3 x 7 x 10, though listed
    // after (7, 5, 0) of 3 x 5 x 10.
    EXPECT_EQ(pack({never("X", 4, 10, 10), never("Y", 3, 3, 10), never("Z", 3, 5, 10),
                    never("D", 3, 5, 10)}),
              "X@0,0,0 Y@4,0,0 Z@7,0,0 D@4,3,0 ");
    // (6, 5, 0), one level above the limit, takes P1 and P2 by rows only and
    // leaves (7, 6, 0) behind P2. The restarted search finds that lower piece
    // for Q before (6, 0, 5), the next space of the old list.
    EXPECT_EQ(pack({never("X", 6, 10, 10), never("C", 4, 5, 5), never("P1", 1, 5, 10),
                    never("P2", 3, 1, 10), never("Q", 3, 4, 5)},
                   -1, 3),
              "X@0,0,0 C@6,0,0 P1@6,5,0 P2@7,5,0 Q@7,6,0 ");
}

TEST(PackBox, WeightBudgets) {
    // max_weight equal to the empty weight: only weightless items.
    const ItemPtr light = never("light", 1, 1, 1, 0), heavy = never("heavy", 2, 2, 2, 0.5);
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box(5, 5)), list_of({light, heavy}))),
              "light@0,0,0 ");
    // The budget may be reached exactly, also in a free space, which gets
    // what A and C left of it.
    EXPECT_EQ(pack({never("a", 1, 1, 1, 6), never("b", 1, 1, 1, 4), never("c", 1, 1, 1, 0.25),
                    never("d", 1, 1, 1, 0)},
                   10),
              "a@0,0,0 b@1,0,0 d@2,0,0 ");
    EXPECT_EQ(pack({never("A", 6, 10, 10, 6), never("C", 4, 5, 5, 3), never("D", 4, 5, 5, 1)}, 10),
              "A@0,0,0 C@6,0,0 D@6,5,0 ");
    EXPECT_EQ(
        pack({never("A", 6, 10, 10, 6), never("C", 4, 5, 5, 3), never("D", 4, 5, 5, 1.25)}, 10),
        "A@0,0,0 C@6,0,0 ");
    // A negative weight never passes under a limit, so it cannot give budget
    // back: P stays out although N would have "made room" for it.
    EXPECT_EQ(pack({never("A", 6, 10, 10, 10), never("C", 4, 8, 5, 0), never("P", 4, 2, 10, 5),
                    never("N", 4, 8, 5, -5)},
                   10),
              "A@0,0,0 C@6,0,0 ");
    // Without a limit it is placed like any other item; -0 is no negative weight.
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box()), list_of({never("N", 1, 1, 1, -5)}))),
              "N@0,0,0 ");
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box(0)), list_of({never("Z", 1, 1, 1, -0.0)}))),
              "Z@0,0,0 ");
}

// A huge negative weight would swallow the weights added after it: -1e19 + 17
// is -1e19, so 17 kg would pass an 11 kg limit.
TEST(PackBox, NegativeWeightCannotHideWeightUnderALimit) {
    const std::vector<ItemPtr> items = {never("N", 3, 3, 3, -1e19), never("A", 2, 2, 2, 10),
                                        never("C", 1, 1, 1, 7), never("P", 1, 1, 0.5, 1e19)};
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box(11)), list_of(items))), "A@0,0,0 ");
    EXPECT_EQ(pack_list(SingleBoxPacker(box()), list_of(items)).item_count(), 4u);
}

TEST(PackBox, WeightLimitHoldsThroughRoundingAndNaN) {
    // 0.27 + 4.2 + 0.53 adds up to just over 5: the space left over must get
    // no budget at all rather than a negative one, which would mean no limit.
    EXPECT_EQ(pack({never("A", 6, 10, 10, 0.27), never("C", 4, 5, 5, 0), never("D1", 4, 5, 5, 4.2),
                    never("D2", 4, 5, 5, 0.53), never("E", 4, 5, 5, 1000)},
                   5),
              "A@0,0,0 C@6,0,0 D1@6,5,0 D2@6,5,5 ");
    // A NaN weight cannot be weighed against a limit, so it is never placed
    // under one; without a limit it is.
    const ItemPtr nan = never("N", 1, 1, 1, std::nan(""));
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box(5)), list_of({nan, never("H", 1, 1, 1, 9)}))),
              "");
    EXPECT_EQ(layout(pack_list(SingleBoxPacker(box()), list_of({nan}))), "N@0,0,0 ");
}

TEST(PackBox, ItemIdentityAndOddItems) {
    const ItemPtr twice = never("x", 2, 2, 2), twin = never("x", 2, 2, 2);
    const PackedBox packed = pack_list(SingleBoxPacker(box()), list_of({twice, twin, twice}));
    ASSERT_EQ(packed.item_count(), 2u);
    EXPECT_NE(packed.items()[0].item(), packed.items()[1].item());
    const ItemPtr d = never("D", 4, 5, 5);  // twice, where only free spaces take it
    EXPECT_EQ(pack({never("A", 6, 10, 10), never("C", 4, 5, 5), d, d}), "A@0,0,0 C@6,0,0 D@6,5,0 ");
    // A negative extent would run the cursor backwards: never placed.
    const ItemPtr negative = make_item("neg", "neg", -5, 5, 5, 1, "", Rotation::BEST_FIT);
    EXPECT_EQ(pack({never("a", 5, 5, 5), negative, never("b", 5, 5, 5)}), "a@0,0,0 b@5,0,0 ");
}

// Volume shared by two placements; 0 when they only touch.
double shared_volume(const PackedItem& a, const PackedItem& b) {
    const double w = std::min(a.x() + a.width(), b.x() + b.width()) - std::max(a.x(), b.x());
    const double l = std::min(a.y() + a.length(), b.y() + b.length()) - std::max(a.y(), b.y());
    const double d = std::min(a.z() + a.depth(), b.z() + b.depth()) - std::max(a.z(), b.z());
    return (w > 0 && l > 0 && d > 0) ? w * l * d : 0.0;
}

// Inside the box, no overlap, each item object once, allowed orientations.
void expect_sound(const PackedBox& packed) {
    const Box& b = *packed.box();
    std::unordered_set<const Item*> seen;
    for (std::size_t i = 0; i < packed.item_count(); ++i) {
        const PackedItem& p = packed.items()[i];
        EXPECT_TRUE(p.x() >= 0 && p.y() >= 0 && p.z() >= 0 && p.x() + p.width() <= b.width() &&
                    p.y() + p.length() <= b.length() && p.z() + p.depth() <= b.depth())
            << i;
        EXPECT_TRUE(seen.insert(p.item().get()).second) << i;
        const Item& item = *p.item();
        const double dims[3] = {item.width(), item.length(), item.depth()};
        bool allowed = false;
        for (std::size_t k = 0; k < orientation_count(item.allowed_rotation()); ++k) {
            const Orientation& l = kOrientations[k];
            allowed =
                allowed || (l.label == p.orientation() && dims[l.along_width] == p.width() &&
                            dims[l.along_length] == p.length() && dims[l.along_depth] == p.depth());
        }
        EXPECT_TRUE(allowed) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_EQ(shared_volume(p, packed.items()[j]), 0.0);
    }
}

TEST(PackBox, RandomPackingsAreSoundAndRepeatable) {
    const double inf = std::numeric_limits<double>::infinity();
    const double odd[] = {std::nan(""), inf, -inf, -3, 0, -0.0, 1e308, 2.5};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> side(1, 12), pick(0, 7), count(0, 40), rotation(0, 2),
        quarter(0, 16);
    for (int round = 0; round < 600; ++round) {
        // One round in three mixes NaN, infinite, negative and zero measures in.
        const bool weird = round % 3 == 2;
        auto measure = [&](double usual) {
            return weird && pick(rng) < 2 ? odd[pick(rng)] : usual;
        };
        const double max_weight = round % 4 == 0 ? -1 : measure(quarter(rng) * 4.0);
        const BoxPtr b = make_box("B", measure(2 * side(rng)), measure(2 * side(rng)),
                                  measure(2 * side(rng)), max_weight, 1, true, std::nullopt);
        ItemList items(std::make_shared<DefaultItemSorter>());
        for (int k = count(rng); k > 0; --k) {
            items.add(make_item("i" + std::to_string(k), "", measure(side(rng)), measure(side(rng)),
                                measure(side(rng)), measure(quarter(rng) * 0.25), "",
                                static_cast<Rotation>(rotation(rng))));
            if (k % 9 == 4) items.add(items.elements().back());  // the same object again
        }
        SCOPED_TRACE(round);
        const PackedBox packed = pack_list(SingleBoxPacker(b), items);
        expect_sound(packed);
        if (!weird && b->has_weight_limit()) {
            EXPECT_LE(packed.item_weight(), b->max_item_weight());
        }
        EXPECT_EQ(layout(pack_list(SingleBoxPacker(b), items)), layout(packed));
    }
}

// Blocks that fill a w x l x d box exactly, by random cuts.
void cut_into_blocks(std::mt19937& rng, int w, int l, int d, int cuts_left,
                     std::vector<std::array<int, 3>>& blocks) {
    int sides[3] = {w, l, d};
    const int axis = static_cast<int>(rng() % 3);
    if (cuts_left == 0 || sides[axis] < 2) {
        blocks.push_back({w, l, d});
        return;
    }
    const int at = 1 + static_cast<int>(rng() % static_cast<unsigned>(sides[axis] - 1));
    int first[3] = {w, l, d}, second[3] = {w, l, d};
    first[axis] = at;
    second[axis] = sides[axis] - at;
    cut_into_blocks(rng, first[0], first[1], first[2], cuts_left - 1, blocks);
    cut_into_blocks(rng, second[0], second[1], second[2], cuts_left - 1, blocks);
}

// pack_all gives up early when some item is certain to stay out: it must
// agree with pack_box on whether the box holds everything, and on the layout.
TEST(PackBox, PackAllHoldsEverythingOrNothing) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> side(1, 8), count(1, 14), pick(0, 9), weight(0, 6);
    int held = 0, not_held = 0;
    for (int round = 0; round < 3000; ++round) {
        const int w = side(rng) + 4, l = side(rng) + 4, d = side(rng) + 4;
        // Whole numbers, where the packer's arithmetic is exact, also as
        // blocks that fill the box to the brim; then halves and tenths.
        const double unit = pick(rng) < 7 ? 1.0 : (pick(rng) < 5 ? 0.5 : 0.1);
        std::vector<std::array<int, 3>> blocks;
        if (unit == 1.0 && pick(rng) < 5) {
            cut_into_blocks(rng, w, l, d, 1 + pick(rng) % 4, blocks);
        } else {
            for (int k = count(rng); k > 0; --k) {
                blocks.push_back({side(rng), side(rng), side(rng)});
            }
        }
        ItemList items(std::make_shared<DefaultItemSorter>());
        double total_weight = 0;
        for (const auto& block : blocks) {
            const double item_weight = pick(rng) == 0 ? -1.0 : weight(rng);
            total_weight += item_weight;
            items.add(make_item("i" + std::to_string(items.size()), "", block[0] * unit,
                                block[1] * unit, block[2] * unit, item_weight, "",
                                static_cast<Rotation>(pick(rng) % 3)));
        }
        // No limit, a limit the items just reach, or a random one.
        const int limit = pick(rng);
        const double max_weight =
            limit < 3 ? -1 : (limit < 6 ? 0.5 + total_weight - pick(rng) % 2 : weight(rng) * 3.0);
        const BoxPtr b = make_box("B", w, l, d, max_weight, 0.5, true, std::nullopt);
        SCOPED_TRACE(round);
        const PackedBox packed = pack_list(SingleBoxPacker(b), items);
        const std::optional<PackedBox> whole =
            SingleBoxPacker(b).pack_all(PackingItems(items.sorted_view()));
        ASSERT_EQ(whole.has_value(), packed.item_count() == items.size());
        if (whole) {
            EXPECT_EQ(layout(*whole), layout(packed));
            ++held;
        } else {
            ++not_held;
        }
    }
    EXPECT_GT(held, 500);
    EXPECT_GT(not_held, 500);
}

// The figures of the entries still in the index, as entries leave it in any
// order: against a walk over the entries that are left.
TEST(EntryIndex, FiguresFollowTheEntriesLeft) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> side(0.0, 9.0);
    std::uniform_int_distribution<int> count(1, 40), weight(-3, 20);
    const double inf = std::numeric_limits<double>::infinity();
    for (int round = 0; round < 200; ++round) {
        std::vector<ItemPtr> items;
        for (int k = count(rng); k > 0; --k) {
            const double w = round % 5 == 0 && k == 1 ? std::nan("") : weight(rng);
            items.push_back(make_item("i" + std::to_string(k), "", side(rng), side(rng), side(rng),
                                      w, "", Rotation::BEST_FIT));
        }
        const PackingItems read(items);
        EntryIndex index = read.index();
        std::vector<std::uint32_t> order(read.entries().size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<std::uint32_t>(k);
        std::shuffle(order.begin(), order.end(), rng);
        for (std::size_t removed = 0; removed <= order.size(); ++removed) {
            double largest[3] = {-inf, -inf, -inf}, heaviest = -inf, volume = 0.0;
            for (std::size_t k = removed; k < order.size(); ++k) {
                const PackingEntry& e = read.entries()[order[k]];
                for (int rank = 0; rank < 3; ++rank) {
                    largest[rank] = std::max(largest[rank], e.ascending[rank]);
                }
                if (!std::isnan(e.weight)) heaviest = std::max(heaviest, e.weight);
                volume += e.dims[0] * e.dims[1] * e.dims[2];
            }
            SCOPED_TRACE(round);
            for (int rank = 0; rank < 3; ++rank) EXPECT_EQ(index.largest(rank), largest[rank]);
            EXPECT_EQ(index.heaviest(), heaviest);
            EXPECT_LE(index.volume_below(), volume);
            EXPECT_GE(index.volume_below(), volume * (1 - 1e-12));
            EXPECT_EQ(index.empty(), removed == order.size());
            if (removed < order.size()) index.remove(order[removed]);
        }
    }
}

}  // namespace
}  // namespace stowvex
