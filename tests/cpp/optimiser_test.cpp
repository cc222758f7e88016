// The optimiser's entry: checks of its settings and inputs, the engine's
// result as incumbent, every rule kept over random requests, determinism,
// costs, support, and the box types, bounds and objective it relies on.
#include "optimiser/optimiser.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packer.hpp"
#include "interchange/result_writer.hpp"
#include "optimiser/box_types.hpp"
#include "optimiser/lower_bound.hpp"
#include "optimiser/objective.hpp"
#include "optimiser/support.hpp"
#include "packing_checks.hpp"

namespace stowvex {
namespace {

using optimiser::OptimiserOptions;

using testing::boxes_of;
using testing::items_of;

OptimiserOptions by_effort(std::uint64_t effort) {
    OptimiserOptions options;
    options.time_limit.reset();
    options.effort = effort;
    return options;
}

PackResponse optimise(const std::vector<ItemPtr>& items, const std::vector<BoxPtr>& boxes,
                      const OptimiserOptions& options = by_effort(300'000)) {
    return optimise_items(items_of(items), boxes_of(boxes), options);
}

std::string message_of(const std::vector<ItemPtr>& items, const std::vector<BoxPtr>& boxes,
                       const OptimiserOptions& options) {
    try {
        optimise(items, boxes, options);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no error";
}

// Every rule of a result: geometry and turns, weight limits, quantity
// limits per reference, active types only, whole groups, every item once.
void expect_valid(const PackResponse& r, const std::vector<ItemPtr>& items, double support) {
    std::map<std::string, int> per_reference;
    std::map<std::string, std::set<const PackedBox*>> group_boxes;
    std::size_t placed = 0;
    for (const PackedBox& box : r.boxes().elements()) {
        testing::expect_sound_geometry(box);
        EXPECT_TRUE(box.box()->active());
        if (box.box()->has_weight_limit()) {
            EXPECT_LE(box.weight(), box.box()->max_weight());
        }
        ++per_reference[box.box()->reference()];
        std::vector<optimiser::Cuboid> cuboids;
        for (const PackedItem& p : box.items()) {
            cuboids.push_back({{p.x(), p.y(), p.z()},
                               {p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()}});
            if (const std::string* group = box_group_of(*p.item()))
                group_boxes[*group].insert(&box);
        }
        for (const bool ok : optimiser::supported_cuboids(cuboids, support)) EXPECT_TRUE(ok);
        placed += box.item_count();
    }
    for (const PackedBox& box : r.boxes().elements()) {
        if (const LimitedSupplyBox* limited = limited_supply_of(*box.box())) {
            EXPECT_LE(per_reference[box.box()->reference()], std::max(0, limited->max_quantity()));
        }
    }
    for (const ItemPtr& item : r.unplaced_items().elements()) {
        if (const std::string* group = box_group_of(*item)) {
            EXPECT_EQ(group_boxes.count(*group), 0u);
        }
    }
    for (const auto& [group, holders] : group_boxes) EXPECT_EQ(holders.size(), 1u) << group;
    EXPECT_EQ(placed + r.total_unplaced(), items.size());
    EXPECT_EQ(r.success(), r.total_unplaced() == 0);
}

struct Request {
    std::vector<ItemPtr> items;
    std::vector<BoxPtr> boxes;
};

Request random_request(std::mt19937& rng) {
    std::uniform_int_distribution<int> side(1, 5);
    std::uniform_int_distribution<int> pick(0, 9);
    Request r;
    const int n = 3 + pick(rng) * 2;
    for (int i = 0; i < n; ++i) {
        const std::string group = pick(rng) < 2 ? (pick(rng) < 5 ? "KIT" : "PAIR") : "";
        const double w = side(rng) + (pick(rng) == 0 ? 0.25 : 0.0);
        r.items.push_back(make_item("I" + std::to_string(i), "", w, side(rng), side(rng),
                                    pick(rng) * 0.5, group, static_cast<Rotation>(pick(rng) % 3)));
    }
    const int types = 1 + pick(rng) % 3;
    for (int b = 0; b < types; ++b) {
        const double max_weight = pick(rng) < 4 ? 8.0 + pick(rng) : -1.0;
        const std::optional<std::int32_t> quantity =
            pick(rng) < 3 ? std::optional<std::int32_t>(pick(rng) % 3) : std::nullopt;
        r.boxes.push_back(make_box("B" + std::to_string(b), 4 + side(rng), 4 + side(rng),
                                   3 + side(rng), max_weight, pick(rng) < 5 ? 0.0 : 1.0,
                                   pick(rng) != 0, quantity));
    }
    return r;
}

bool better(const PackResponse& a, const PackResponse& b) {
    if (a.total_placed() != b.total_placed()) return a.total_placed() > b.total_placed();
    if (a.box_count() != b.box_count()) return a.box_count() < b.box_count();
    double va = 0, vb = 0;
    for (const PackedBox& box : a.boxes().elements()) va += box.inner_volume();
    for (const PackedBox& box : b.boxes().elements()) vb += box.inner_volume();
    return va < vb - 1e-9 * vb;
}

TEST(Optimiser, RefusesSettingsOutOfRange) {
    const std::vector<ItemPtr> items{make_item("A", "", 1, 1, 1, 0, "", Rotation::NEVER)};
    const std::vector<BoxPtr> boxes{make_box("B", 2, 2, 2, -1, 0, true, std::nullopt)};
    OptimiserOptions o;
    o.time_limit.reset();
    EXPECT_EQ(message_of(items, boxes, o),
              "give a time_limit or an effort: the search needs an end");
    o.time_limit = 0.0;
    EXPECT_EQ(message_of(items, boxes, o),
              "time_limit must be a positive number of seconds, not 0");
    o.time_limit = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(message_of(items, boxes, o),
              "time_limit must be a positive number of seconds, not nan");
    o.time_limit = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(message_of(items, boxes, o),
              "time_limit must be a positive number of seconds, not -inf");
    o = by_effort(10);
    o.min_support = 1.5;
    EXPECT_EQ(message_of(items, boxes, o), "min_support must be between 0 and 1, not 1.5");
    o.min_support = -1e-300;
    EXPECT_EQ(message_of(items, boxes, o), "min_support must be between 0 and 1, not -1e-300");
    o.min_support = 0.0;
    o.box_costs = std::map<std::string, double>{{"A", 0.0}, {"B", -0.25}};
    EXPECT_EQ(message_of(items, boxes, o), "box_costs['B'] must be finite, 0 or more, not -0.25");
}

TEST(Optimiser, RefusesMeasuresAndCostsThatCannotBeSearched) {
    const auto box = make_box("B", 2, 2, 2, -1, 0, true, std::nullopt);
    const auto options = by_effort(10);
    EXPECT_EQ(
        message_of({make_item("A", "", INFINITY, 1, 1, 0, "", Rotation::NEVER)}, {box}, options),
        "item 'A' has a non-finite width");
    EXPECT_EQ(message_of({make_item("A", "", 1, 1, 1, NAN, "", Rotation::NEVER)}, {box}, options),
              "item 'A' has a non-finite weight");
    EXPECT_EQ(message_of({}, {make_box("C", 1, INFINITY, 1, -1, 0, true, std::nullopt)}, options),
              "box type 'C' has a non-finite length");
    // An inactive type is never used, whatever its measures.
    EXPECT_EQ(message_of({}, {make_box("C", NAN, 1, 1, -1, 0, false, std::nullopt)}, options),
              "no error");
    OptimiserOptions costs = options;
    costs.box_costs = std::map<std::string, double>{{"X", 1.0}};
    EXPECT_EQ(message_of({}, {box}, costs), "box_costs names 'X', which is no box type");
    costs.box_costs = std::map<std::string, double>{};
    EXPECT_EQ(message_of({}, {box}, costs), "box_costs has no cost for box type 'B'");
}

TEST(Optimiser, NegativeMeasuresPassAsTheEngineTakesThem) {
    const std::vector<ItemPtr> items{make_item("SIDE", "", -1, 1, 1, 0, "", Rotation::NEVER),
                                     make_item("LIGHT", "", 1, 1, 1, -2, "", Rotation::NEVER),
                                     make_item("HEAVY", "", 1, 1, 1, 3, "", Rotation::NEVER)};
    const auto limited = make_box("L", 3, 1, 1, 5, 0, true, std::nullopt);
    const auto free = make_box("F", 3, 1, 1, -1, 0, true, std::nullopt);
    // Under a weight limit neither the negative side nor the negative weight.
    const PackResponse under_limit = optimise(items, {limited});
    EXPECT_EQ(under_limit.total_placed(), 1u);
    // Without one, the negative weight goes in; the negative side never does.
    const PackResponse no_limit = optimise(items, {free});
    EXPECT_EQ(no_limit.total_placed(), 2u);
    ASSERT_EQ(no_limit.unplaced_items().elements().size(), 1u);
    EXPECT_EQ(no_limit.unplaced_items().elements()[0]->item_code(), "SIDE");
}

TEST(Optimiser, ReturnsTheEnginesResultWhenNothingBeatsIt) {
    // One box holds everything: the engine's result cannot be beaten.
    std::vector<ItemPtr> items;
    for (int i = 0; i < 4; ++i)
        items.push_back(make_item("A" + std::to_string(i), "", 1, 1, 1, 1, "", Rotation::BEST_FIT));
    const std::vector<BoxPtr> boxes{make_box("B", 2, 2, 1, -1, 0, true, std::nullopt)};
    const std::string engine = to_json_text(pack_items(items_of(items), boxes_of(boxes)), -1);
    EXPECT_EQ(to_json_text(optimise(items, boxes), -1), engine);
    EXPECT_EQ(to_json_text(optimise({}, boxes), -1),
              to_json_text(pack_items(items_of({}), boxes_of(boxes)), -1));
}

TEST(Optimiser, RandomRequestsKeepEveryRuleAndNeverLoseToTheEngine) {
    std::mt19937 rng(2024);
    int improved = 0;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        const Request r = random_request(rng);
        const double support = trial % 4 == 0 ? 1.0 : 0.0;
        OptimiserOptions options = by_effort(100'000);
        options.min_support = support;
        options.seed = static_cast<std::uint64_t>(trial);
        const PackResponse engine = pack_items(items_of(r.items), boxes_of(r.boxes));
        const PackResponse result = optimise(r.items, r.boxes, options);
        expect_valid(result, r.items, support);
        if (support == 0.0) {
            EXPECT_FALSE(better(engine, result));
        }
        improved += better(result, engine);
    }
    EXPECT_GT(improved, 5);
}

TEST(Optimiser, SameEffortAndSeedGiveTheSameResultOnAnyNumberOfThreads) {
    std::mt19937 rng(5);
    std::vector<ItemPtr> items;
    for (int i = 0; i < 80; ++i) {
        items.push_back(make_item("I" + std::to_string(i), "", 1 + rng() % 7, 1 + rng() % 5,
                                  1 + rng() % 4, 1, "", Rotation::BEST_FIT));
    }
    const std::vector<BoxPtr> boxes{make_box("B", 12, 10, 9, -1, 0, true, std::nullopt),
                                    make_box("S", 8, 7, 6, -1, 0, true, std::nullopt)};
    OptimiserOptions options = by_effort(3'000'000);
    options.seed = 3;
    const std::string first = to_json_text(optimise(items, boxes, options), -1);
    EXPECT_EQ(to_json_text(optimise(items, boxes, options), -1), first);
    options.threads = 4;
    EXPECT_EQ(to_json_text(optimise(items, boxes, options), -1), first);
}

TEST(Optimiser, CostsReplaceFewestBoxes) {
    // Six unit cubes: one BIG box holds them all, a SMALL box three.
    std::vector<ItemPtr> items(6, make_item("A", "", 1, 1, 1, 0, "", Rotation::NEVER));
    const std::vector<BoxPtr> boxes{make_box("BIG", 6, 1, 1, -1, 0, true, std::nullopt),
                                    make_box("SMALL", 3, 1, 1, -1, 0, true, std::nullopt)};
    const PackResponse fewest = optimise(items, boxes);
    ASSERT_EQ(fewest.box_count(), 1u);
    EXPECT_EQ(fewest.boxes().elements()[0].box()->reference(), "BIG");
    OptimiserOptions options = by_effort(300'000);
    options.box_costs = std::map<std::string, double>{{"BIG", 10.0}, {"SMALL", 1.0}};
    const PackResponse cheapest = optimise(items, boxes, options);
    ASSERT_EQ(cheapest.box_count(), 2u);
    for (const PackedBox& box : cheapest.boxes().elements())
        EXPECT_EQ(box.box()->reference(), "SMALL");
}

TEST(Optimiser, FullSupportReplacesAnEngineResultWithFloatingItems) {
    // The engine lays C's layer on top of A's depth; C then overhangs B.
    const std::vector<ItemPtr> items{make_item("A", "", 2, 1, 2, 0, "", Rotation::NEVER),
                                     make_item("B", "", 2, 1, 1, 0, "", Rotation::NEVER),
                                     make_item("C", "", 4, 1, 1, 0, "", Rotation::NEVER)};
    const std::vector<BoxPtr> boxes{make_box("B", 4, 1, 4, -1, 0, true, std::nullopt)};
    const PackResponse engine = pack_items(items_of(items), boxes_of(boxes));
    ASSERT_EQ(engine.total_placed(), 3u);
    OptimiserOptions options = by_effort(100'000);
    options.min_support = 1.0;
    const PackResponse result = optimise(items, boxes, options);
    EXPECT_EQ(result.total_placed(), 3u);
    expect_valid(result, items, 1.0);
    EXPECT_NE(to_json_text(result, -1), to_json_text(engine, -1));
}

TEST(Optimiser, TheSameItemObjectTwiceIsTwoItems) {
    const ItemPtr item = make_item("A", "", 1, 1, 1, 0, "", Rotation::NEVER);
    const PackResponse r =
        optimise({item, item}, {make_box("B", 2, 1, 1, -1, 0, true, std::nullopt)});
    ASSERT_EQ(r.box_count(), 1u);  // where the engine opens one box for each
    EXPECT_EQ(r.boxes().elements()[0].items()[0].item(), item);
    EXPECT_EQ(r.boxes().elements()[0].items()[1].item(), item);
}

TEST(OptimiserBoxTypes, QuantityLimitsCountBoxesPerReference) {
    const std::vector<BoxPtr> boxes{make_box("R", 1, 1, 1, -1, 0, true, 2),
                                    make_box("R", 2, 2, 2, -1, 0, true, std::nullopt),
                                    make_box("OFF", 1, 1, 1, -1, 0, false, std::nullopt),
                                    make_box("NONE", 1, 1, 1, -1, 0, true, 0)};
    const optimiser::BoxTypes types(boxes, {});
    ASSERT_EQ(types.size(), 3u);  // the inactive type is left out
    optimiser::QuantityLedger ledger(types);
    EXPECT_FALSE(ledger.can_add(2));  // a limit of 0: never
    ledger.add(1);
    ledger.add(1);
    EXPECT_FALSE(ledger.can_add(0));  // would be the third box of R
    EXPECT_TRUE(ledger.can_add(1));
    ledger.remove(1);
    EXPECT_TRUE(ledger.can_add(0));
    ledger.add(0);
    EXPECT_FALSE(ledger.can_add(1));  // R is now limited to 2 in all
    EXPECT_TRUE(ledger.can_swap(1, 0));
}

TEST(OptimiserLowerBound, CountsItemsThatCannotShareABox) {
    const std::vector<BoxPtr> boxes{make_box("B", 10, 10, 10, -1, 0, true, std::nullopt)};
    const optimiser::BoxTypes types(boxes, {});
    // Three items longer than half the box every way: three boxes, though
    // their volume is 1.2 boxes.
    std::vector<ItemPtr> items(3, make_item("BIG", "", 7, 7, 8, 0, "", Rotation::BEST_FIT));
    items.push_back(make_item("HUGE", "", 11, 1, 1, 0, "", Rotation::NEVER));  // fits nowhere
    const optimiser::KindTable kinds = optimiser::group_into_kinds(items);
    const std::vector<int> placeable = optimiser::placeable_counts(kinds, kinds.counts(), types);
    EXPECT_EQ(placeable, (std::vector<int>{3, 0}));
    EXPECT_EQ(optimiser::box_count_bound(kinds, placeable, types), 3u);
    // Small items: the volume bound, 2.4 boxes.
    const std::vector<ItemPtr> small(24, make_item("S", "", 10, 10, 1, 0, "", Rotation::NEVER));
    const optimiser::KindTable small_kinds = optimiser::group_into_kinds(small);
    EXPECT_EQ(optimiser::box_count_bound(small_kinds, small_kinds.counts(), types), 3u);
}

TEST(OptimiserLowerBound, ItemsTooLongToLieSideBySideStack) {
    const std::vector<BoxPtr> boxes{make_box("B", 10, 10, 10, -1, 0, true, std::nullopt)};
    const optimiser::BoxTypes types(boxes, {});
    // Over half the box on both floor axes: one column a box, three to a column,
    // so seven need three boxes, though no two of them are kept apart and their
    // volume is under one box.
    const std::vector<ItemPtr> flat(7, make_item("F", "", 6, 6, 3, 0, "", Rotation::NEVER));
    const optimiser::KindTable kinds = optimiser::group_into_kinds(flat);
    EXPECT_EQ(optimiser::box_count_bound(kinds, kinds.counts(), types), 3u);
}

TEST(OptimiserLowerBound, WeightNeedsBoxesWhenEveryTypeHasALimit) {
    std::vector<BoxPtr> boxes{make_box("B", 100, 100, 100, 100, 10, true, std::nullopt)};
    const std::vector<ItemPtr> heavy(10, make_item("H", "", 1, 1, 1, 30, "", Rotation::NEVER));
    const optimiser::KindTable kinds = optimiser::group_into_kinds(heavy);
    EXPECT_EQ(optimiser::box_count_bound(kinds, kinds.counts(), optimiser::BoxTypes(boxes, {})),
              4u);  // 300 over a budget of 90
    boxes.push_back(make_box("OPEN", 100, 100, 100, -1, 0, true, std::nullopt));
    EXPECT_EQ(optimiser::box_count_bound(kinds, kinds.counts(), optimiser::BoxTypes(boxes, {})),
              1u);
}

// Cuts a box into pieces by random guillotine cuts; the pieces fill it exactly.
void cut_into(std::mt19937_64& random, double w, double l, double d, int pieces,
              std::vector<ItemPtr>& out) {
    if (pieces <= 1) {
        out.push_back(
            make_item("P" + std::to_string(out.size()), "", w, l, d, 0, "", Rotation::BEST_FIT));
        return;
    }
    std::array<double, 3> sides{w, l, d};
    const int axis = static_cast<int>(random() % 3);
    if (sides[axis] < 2) return cut_into(random, w, l, d, 1, out);
    const double at =
        1 + static_cast<double>(random() % static_cast<std::uint64_t>(sides[axis] - 1));
    std::array<double, 3> first = sides;
    std::array<double, 3> second = sides;
    first[axis] = at;
    second[axis] = sides[axis] - at;
    const int left = 1 + static_cast<int>(random() % static_cast<std::uint64_t>(pieces - 1));
    cut_into(random, first[0], first[1], first[2], left, out);
    cut_into(random, second[0], second[1], second[2], pieces - left, out);
}

TEST(OptimiserLowerBound, NeverAboveBoxesTheItemsAreKnownToFill) {
    std::mt19937_64 random(2026);
    int tight = 0;
    for (int round = 0; round < 200; ++round) {
        const double w = 5 + static_cast<double>(random() % 30);
        const double l = 5 + static_cast<double>(random() % 30);
        const double d = 5 + static_cast<double>(random() % 30);
        const std::size_t filled = 1 + random() % 4;
        std::vector<ItemPtr> items;
        for (std::size_t b = 0; b < filled; ++b) {
            cut_into(random, w, l, d, 1 + static_cast<int>(random() % 12), items);
        }
        // Half the rounds leave some pieces out: what is left still fits, so the
        // bound may not rise above the boxes by reading too much into long sides.
        if (round % 2 == 1) {
            std::vector<ItemPtr> kept;
            for (const ItemPtr& item : items) {
                if (random() % 3 != 0) kept.push_back(item);
            }
            if (!kept.empty()) items = kept;
        }
        const std::vector<BoxPtr> boxes{make_box("B", w, l, d, -1, 0, true, std::nullopt)};
        const optimiser::KindTable kinds = optimiser::group_into_kinds(items);
        const std::size_t bound =
            optimiser::box_count_bound(kinds, kinds.counts(), optimiser::BoxTypes(boxes, {}));
        EXPECT_LE(bound, filled) << "round " << round;
        tight += bound == filled;
    }
    // Pieces that fill their boxes reach the count by volume alone.
    EXPECT_GT(tight, 60);
}

TEST(OptimiserObjective, PlacedFirstThenBoxesThenVolumeOrCost) {
    const optimiser::Objective by_volume(false);
    const optimiser::Objective by_cost(true);
    const optimiser::Score more{5, 3, 30.0, 9.0};
    const optimiser::Score fewer_boxes{4, 1, 10.0, 1.0};
    EXPECT_TRUE(by_volume.better(more, fewer_boxes));
    const optimiser::Score two_small{4, 2, 8.0, 2.0};
    EXPECT_TRUE(by_volume.better(fewer_boxes, two_small));
    EXPECT_TRUE(by_cost.better(fewer_boxes, two_small));
    const optimiser::Score cheap_pair{4, 2, 8.0, 0.5};
    EXPECT_TRUE(by_cost.better(cheap_pair, fewer_boxes));
    EXPECT_FALSE(by_volume.better(fewer_boxes, fewer_boxes));
    EXPECT_EQ(optimiser::ordered_sum({0.1, 1e16, 0.2}), optimiser::ordered_sum({1e16, 0.2, 0.1}));
}

}  // namespace
}  // namespace stowvex
