// The loading rules of the optimiser: reading them (and refusing malformed
// ones), each rule kept on a request that the search left alone would break
// it on, the engine's result kept only when it keeps them, and random
// requests with random rules checked by a checker of this file's own.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packer.hpp"
#include "interchange/result_writer.hpp"
#include "optimiser/box_loading.hpp"
#include "optimiser/loading_rules.hpp"
#include "optimiser/optimiser.hpp"
#include "packing_checks.hpp"

namespace stowvex {
namespace {

using optimiser::LoadingRules;
using optimiser::OptimiserOptions;
using testing::boxes_of;
using testing::items_of;

OptimiserOptions with_rules(const std::string& rules, double min_support = 0.0) {
    OptimiserOptions options;
    options.time_limit.reset();
    options.effort = 200'000;
    options.min_support = min_support;
    options.rules = LoadingRules::parse(rules);
    return options;
}

PackResponse optimise(const std::vector<ItemPtr>& items, const std::vector<BoxPtr>& boxes,
                      const OptimiserOptions& options) {
    return optimise_items(items_of(items), boxes_of(boxes), options);
}

ItemPtr cube(const std::string& code, double weight, double side = 1.0) {
    return make_item(code, "", side, side, side, weight, "", Rotation::NEVER);
}

BoxPtr box(const std::string& reference, double w, double l, double d) {
    return make_box(reference, w, l, d, -1, 0, true, std::nullopt);
}

// The rules of one item code, as the checker below reads them.
struct Rule {
    double max_load = -1.0;  // negative: none
    int stop = 0;
    std::vector<std::string> orientations;
};

struct Range {
    double x_lo, x_hi, y_lo, y_hi;
};

struct Placed {
    double low[3];
    double high[3];
    double weight;
    Rule rule;
};

bool overlap_positive(double a_low, double a_high, double b_low, double b_high) {
    return std::min(a_high, b_high) - std::max(a_low, b_low) > 0.0;
}

bool above(const Placed& upper, const Placed& lower) {
    return upper.low[2] >= lower.high[2] &&
           overlap_positive(upper.low[0], upper.high[0], lower.low[0], lower.high[0]) &&
           overlap_positive(upper.low[1], upper.high[1], lower.low[1], lower.high[1]);
}

// Every loading rule of every box of a result, written from the rules'
// definitions: a fault is reported with the codes it concerns.
void expect_rules_kept(const PackResponse& r, const std::map<std::string, Rule>& rules,
                       const std::map<std::string, Range>& ranges = {}) {
    for (const PackedBox& packed : r.boxes().elements()) {
        testing::expect_sound_geometry(packed, /*by_rotation=*/false);
        std::vector<Placed> items;
        std::vector<std::string> codes;
        for (const PackedItem& p : packed.items()) {
            Placed item{{p.x(), p.y(), p.z()},
                        {p.x() + p.width(), p.y() + p.length(), p.z() + p.depth()},
                        p.item()->weight(),
                        {}};
            const auto found = rules.find(p.item()->item_code());
            if (found != rules.end()) item.rule = found->second;
            if (!item.rule.orientations.empty()) {
                bool listed = false;
                for (const std::string& label : item.rule.orientations)
                    listed = listed || label == p.orientation();
                EXPECT_TRUE(listed) << p.item()->item_code() << " turned " << p.orientation();
            }
            items.push_back(item);
            codes.push_back(p.item()->item_code());
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            double load = 0.0;
            int count = 0;
            for (std::size_t j = 0; j < items.size(); ++j) {
                if (i == j) continue;
                if (above(items[j], items[i])) {
                    load += items[j].weight;
                    ++count;
                }
                const Placed& a = items[i];
                const Placed& b = items[j];
                if (a.rule.stop == 0 || b.rule.stop <= a.rule.stop) continue;
                // b is unloaded after a: neither on it nor between it and the door.
                EXPECT_FALSE(above(b, a)) << codes[j] << " lies on " << codes[i];
                const bool in_front = overlap_positive(a.low[0], a.high[0], b.low[0], b.high[0]) &&
                                      overlap_positive(a.low[2], a.high[2], b.low[2], b.high[2]) &&
                                      b.low[1] >= a.high[1];
                EXPECT_FALSE(in_front) << codes[j] << " stands before " << codes[i];
            }
            if (items[i].rule.max_load == 0.0) {
                EXPECT_EQ(count, 0) << codes[i] << " is fragile";
            }
            if (items[i].rule.max_load >= 0.0) {
                EXPECT_LE(load, items[i].rule.max_load) << codes[i] << " carries too much";
            }
        }
        const auto range = ranges.find(packed.box()->reference());
        if (range == ranges.end()) continue;
        double total = 0.0, mx = 0.0, my = 0.0;
        for (const Placed& p : items) {
            total += p.weight;
            mx += p.weight * (p.low[0] + p.high[0]) / 2.0;
            my += p.weight * (p.low[1] + p.high[1]) / 2.0;
        }
        if (total <= 0.0) continue;
        const double w = packed.box()->width();
        const double l = packed.box()->length();
        EXPECT_GE(mx / total, range->second.x_lo * w);
        EXPECT_LE(mx / total, range->second.x_hi * w);
        EXPECT_GE(my / total, range->second.y_lo * l);
        EXPECT_LE(my / total, range->second.y_hi * l);
    }
}

std::string message_of(const std::string& rules) {
    try {
        LoadingRules::parse(rules);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "accepted";
}

TEST(LoadingRules, ReadsEveryKeyOfItemsAndBoxes) {
    const LoadingRules rules = LoadingRules::parse(R"({
        "items": {"A": {"MaxLoad": 12.5, "Stop": 2, "Orientations": ["LWD", "DLW"]},
                  "F": {"Fragile": true, "MaxLoad": 4}, "N": {"Fragile": false}},
        "boxes": {"B": {"CentreOfGravity": {"X": [0.25, 0.75]}}, "C": {}}})");
    ASSERT_NE(rules.item("A"), nullptr);
    EXPECT_EQ(rules.item("A")->max_load, 12.5);
    EXPECT_EQ(rules.item("A")->stop, 2);
    const ItemPtr a = make_item("A", "", 1, 2, 3, 1, "", Rotation::NEVER);
    const unsigned mask = optimiser::allowed_orientations(*a, rules.item("A"));
    EXPECT_TRUE(optimiser::label_allowed(mask, "LWD"));
    EXPECT_TRUE(optimiser::label_allowed(mask, "DLW"));
    EXPECT_FALSE(optimiser::label_allowed(mask, "WLD"));  // the rule replaces NEVER
    EXPECT_EQ(rules.item("F")->max_load, 0.0);            // Fragile is MaxLoad 0, whatever else
    EXPECT_EQ(rules.item("N")->max_load, optimiser::kNoLoadLimit);
    EXPECT_EQ(rules.item("Z"), nullptr);
    ASSERT_NE(rules.centre("B"), nullptr);
    EXPECT_EQ(rules.centre("B")->x[0], 0.25);
    EXPECT_EQ(rules.centre("B")->y[1], 1.0);  // Y not given: the whole length
    EXPECT_EQ(rules.centre("C"), nullptr);
    EXPECT_TRUE(LoadingRules::parse("{}").empty());
}

TEST(LoadingRules, RefusesMalformedRulesNamingWhatIsWrong) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"{\"items\": ", "not JSON"},
        {"[]", "must be an object"},
        {R"({"parcels": {}})", "'parcels'"},
        {R"({"items": []})", "items"},
        {R"({"items": {"A": 3}})", "items['A']"},
        {R"({"items": {"A": {"MaxLoad": -1}}})", "0 or more"},
        {R"({"items": {"A": {"MaxLoad": "heavy"}}})", "number"},
        {R"({"items": {"A": {"Fragile": 1}}})", "true or false"},
        {R"({"items": {"A": {"Orientations": []}}})", "non-empty"},
        {R"({"items": {"A": {"Orientations": ["WLX"]}}})", "'WLX'"},
        {R"({"items": {"A": {"Orientations": "WLD"}}})", "list"},
        {R"({"items": {"A": {"Stop": 0}}})", "whole number"},
        {R"({"items": {"A": {"Stop": 1.5}}})", "whole number"},
        {R"({"items": {"A": {"Colour": "red"}}})", "'Colour'"},
        {R"({"boxes": {"B": {"CentreOfGravity": {"X": [0.7, 0.3]}}}})", "lo <= hi"},
        {R"({"boxes": {"B": {"CentreOfGravity": {"Y": [0.2, 1.5]}}}})", "lo <= hi"},
        {R"({"boxes": {"B": {"CentreOfGravity": {"X": [0.5]}}}})", "[lo, hi]"},
        {R"({"boxes": {"B": {"CentreOfGravity": {"Z": [0, 1]}}}})", "'Z'"},
        {R"({"boxes": {"B": {"Door": 1}}})", "'Door'"},
    };
    for (const auto& [text, part] : cases) {
        const std::string message = message_of(text);
        EXPECT_NE(message.find(part), std::string::npos) << text << ": " << message;
        EXPECT_EQ(message.rfind("rules", 0), 0u) << message;
    }
}

TEST(LoadingRules, LoadsAtTheLimitPassOnlyWhenTheSumIsExact) {
    using optimiser::bearable;
    using optimiser::Load;
    Load whole;
    whole.add(2.0, 3);
    EXPECT_TRUE(bearable(whole, 6.0));
    EXPECT_FALSE(bearable(whole, 5.0));
    // 0.1 + 0.2 rounds above 0.3 in one order and not in another: a limit
    // met only by rounding is not met.
    Load decimal;
    decimal.add(0.1, 1);
    decimal.add(0.2, 1);
    EXPECT_FALSE(bearable(decimal, 0.3));
    EXPECT_TRUE(bearable(decimal, 0.31));
    // Nothing at all on a fragile item, not even what weighs nothing; and a
    // negative weight lends no capacity.
    Load weightless;
    weightless.add(0.0, 1);
    EXPECT_FALSE(bearable(weightless, 0.0));
    EXPECT_TRUE(bearable(Load{}, 0.0));
    Load lent;
    lent.add(-5.0, 1);
    lent.add(3.0, 1);
    EXPECT_FALSE(bearable(lent, 2.0));
}

// The kinds offered as candidates for the next space of a loading in a
// 1 x 1 x 3 column after a heavy cube was hung at its top.
std::vector<std::string> candidates_under_a_hung_cube(const std::string& rules) {
    using namespace optimiser;
    const std::vector<ItemPtr> items{cube("H", 5), cube("U", 1)};
    const LoadingRules parsed = LoadingRules::parse(rules);
    const KindTable kinds = group_into_kinds(items, &parsed);
    const BoxPtr column = box("T", 1, 1, 3);
    const BoxProblem problem(kinds, kinds.counts(), *column, 0.0, CatalogueSettings{});
    BoxLoading loading(problem);
    for (std::size_t r = 0; r < problem.catalogue.size(); ++r) {
        const ItemBlock& b = problem.catalogue[r];
        if (b.kind == 0 && b.item_count == 1) {
            loading.place({static_cast<std::uint32_t>(r), {0.0, 0.0, 2.0}, {1.0, 1.0, 3.0}});
        }
    }
    std::vector<BlockPlacement> out;
    std::vector<std::string> codes;
    if (loading.next_candidates(16, out)) {
        for (const BlockPlacement& p : out) {
            codes.push_back(
                items[kinds.kinds[problem.catalogue[p.block].kind].members[0]]->item_code());
        }
    }
    return codes;
}

TEST(OptimiserRules, AnItemGoingInBelowOthersMustCarryThem) {
    // U would go in under the hung cube: only when it may carry its 5.
    const std::vector<std::string> free = candidates_under_a_hung_cube("{}");
    EXPECT_EQ(std::count(free.begin(), free.end(), "U"), 1);
    const std::vector<std::string> strong =
        candidates_under_a_hung_cube(R"({"items": {"U": {"MaxLoad": 5}}})");
    EXPECT_EQ(std::count(strong.begin(), strong.end(), "U"), 1);
    for (const char* weak :
         {R"({"items": {"U": {"MaxLoad": 4.5}}})", R"({"items": {"U": {"Fragile": true}}})"}) {
        const std::vector<std::string> codes = candidates_under_a_hung_cube(weak);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), "U"), 0) << weak;
    }
    // Under stops: U goes below the cube only when it is unloaded after it.
    const std::vector<std::string> later =
        candidates_under_a_hung_cube(R"({"items": {"U": {"Stop": 2}, "H": {"Stop": 1}}})");
    EXPECT_EQ(std::count(later.begin(), later.end(), "U"), 1);
    const std::vector<std::string> earlier =
        candidates_under_a_hung_cube(R"({"items": {"U": {"Stop": 1}, "H": {"Stop": 2}}})");
    EXPECT_EQ(std::count(earlier.begin(), earlier.end(), "U"), 0);
}

TEST(OptimiserRules, FragileItemsCarryNothing) {
    // Two fragile and two plain cubes fill a 2 x 1 x 2 box only with the
    // plain ones below.
    const std::vector<ItemPtr> items{cube("F", 1), cube("F", 1), cube("P", 1), cube("P", 1)};
    const std::vector<BoxPtr> boxes{box("B", 2, 1, 2)};
    const std::string text = R"({"items": {"F": {"MaxLoad": 0}}})";
    const PackResponse r = optimise(items, boxes, with_rules(text));
    EXPECT_EQ(r.total_placed(), 4u);
    EXPECT_EQ(r.box_count(), 1u);
    expect_rules_kept(r, {{"F", {0.0, 0, {}}}});
    // All fragile: only the floor, so two boxes.
    const std::vector<ItemPtr> fragile(4, cube("F", 1));
    const PackResponse floors = optimise(fragile, boxes, with_rules(text));
    EXPECT_EQ(floors.total_placed(), 4u);
    EXPECT_EQ(floors.box_count(), 2u);
    expect_rules_kept(floors, {{"F", {0.0, 0, {}}}});
}

TEST(OptimiserRules, MaxLoadsDecideTheOrderOfAStack) {
    // A column of three: only A under B under C keeps every max load.
    const std::vector<ItemPtr> items{cube("C", 1), cube("B", 2), cube("A", 3)};
    const std::map<std::string, Rule> rules{
        {"A", {3.0, 0, {}}}, {"B", {1.0, 0, {}}}, {"C", {0.0, 0, {}}}};
    for (const double support : {0.0, 1.0}) {
        SCOPED_TRACE(support);
        const PackResponse r =
            optimise(items, {box("T", 1, 1, 3)},
                     with_rules(R"({"items": {"A": {"MaxLoad": 3}, "B": {"MaxLoad": 1},
                                     "C": {"Fragile": true}}})",
                                support));
        ASSERT_EQ(r.total_placed(), 3u);
        EXPECT_EQ(r.box_count(), 1u);
        expect_rules_kept(r, rules);
    }
    // B may carry 1 only: a block of B standing on B never forms.
    const std::vector<ItemPtr> twins(2, cube("B", 2));
    const PackResponse apart =
        optimise(twins, {box("T", 1, 1, 2)}, with_rules(R"({"items": {"B": {"MaxLoad": 1}}})"));
    EXPECT_EQ(apart.total_placed(), 2u);
    EXPECT_EQ(apart.box_count(), 2u);
}

TEST(OptimiserRules, OrientationsReplaceTheRotationFreedom) {
    const ItemPtr rod = make_item("R", "", 3, 1, 1, 1, "", Rotation::BEST_FIT);
    // Only standing (depth along x, width up) fits the tall box.
    const PackResponse standing =
        optimise({rod}, {box("TALL", 1, 1, 3)}, with_rules(R"({"items": {"R": {"Orientations":
                                                         ["DLW"]}}})"));
    ASSERT_EQ(standing.total_placed(), 1u);
    const PackedItem& p = standing.boxes().elements()[0].items()[0];
    EXPECT_EQ(p.orientation(), "DLW");
    EXPECT_EQ(p.depth(), 3.0);
    // Lying along x only; the tall box cannot take it: it is unpacked.
    const PackResponse lying =
        optimise({rod}, {box("TALL", 1, 1, 3)}, with_rules(R"({"items": {"R": {"Orientations":
                                                      ["WLD", "WDL"]}}})"));
    EXPECT_EQ(lying.total_placed(), 0u);
    ASSERT_EQ(lying.unplaced_items().elements().size(), 1u);
    EXPECT_FALSE(lying.success());
    // An item that may not turn is turned when its rule says so.
    const ItemPtr fixed = make_item("K", "", 2, 1, 1, 1, "", Rotation::NEVER);
    const PackResponse turned =
        optimise({fixed, fixed}, {box("B", 1, 2, 2)}, with_rules(R"({"items": {"K": {"Orientations":
                                                       ["LWD"]}}})"));
    EXPECT_EQ(turned.total_placed(), 2u);
    expect_rules_kept(turned, {{"K", {-1.0, 0, {"LWD"}}}});
}

TEST(OptimiserRules, LaterStopsGoDeeperAndLower) {
    const std::map<std::string, Rule> rules{
        {"S1", {-1.0, 1, {}}}, {"S2", {-1.0, 2, {}}}, {"S3", {-1.0, 3, {}}}};
    const std::string text = R"({"items": {"S1": {"Stop": 1}, "S2": {"Stop": 2},
                                           "S3": {"Stop": 3}}})";
    // A row towards the door: stop 3 at the back wall, stop 1 at the door.
    {
        const std::vector<ItemPtr> items{cube("S1", 1), cube("S2", 1), cube("S3", 1)};
        const PackResponse r = optimise(items, {box("ROW", 1, 3, 1)}, with_rules(text));
        ASSERT_EQ(r.total_placed(), 3u);
        EXPECT_EQ(r.box_count(), 1u);
        expect_rules_kept(r, rules);
        for (const PackedItem& p : r.boxes().elements()[0].items()) {
            EXPECT_EQ(p.y(), 3.0 - p.item()->item_code()[1] + '0') << p.item()->item_code();
        }
    }
    // A stack: stop 3 at the bottom.
    {
        const std::vector<ItemPtr> items{cube("S1", 1), cube("S3", 1), cube("S2", 1)};
        const PackResponse r = optimise(items, {box("STACK", 1, 1, 3)}, with_rules(text, 1.0));
        ASSERT_EQ(r.total_placed(), 3u);
        EXPECT_EQ(r.box_count(), 1u);
        expect_rules_kept(r, rules);
    }
    // A truck of mixed stops and sizes in one go.
    std::mt19937 rng(11);
    std::vector<ItemPtr> items;
    for (int i = 0; i < 40; ++i) {
        items.push_back(make_item("S" + std::to_string(1 + i % 3), "", 1 + rng() % 3, 1 + rng() % 3,
                                  1 + rng() % 2, 1, "", Rotation::KEEP_FLAT));
    }
    const PackResponse r = optimise(items, {box("TRUCK", 6, 10, 4)}, with_rules(text, 1.0));
    EXPECT_EQ(r.total_placed(), items.size());
    expect_rules_kept(r, rules);
}

TEST(OptimiserRules, TheCentreOfGravityIsMovedIntoItsRange) {
    const std::string text = R"({"boxes": {"B": {"CentreOfGravity": {"X": [0.4, 0.6],
                                                                      "Y": [0.25, 0.75]}}}})";
    const std::map<std::string, Range> ranges{{"B", {0.4, 0.6, 0.25, 0.75}}};
    // One heavy cube left alone sits in a corner, far from the middle.
    const PackResponse one = optimise({cube("H", 10)}, {box("B", 4, 2, 1)}, with_rules(text));
    ASSERT_EQ(one.total_placed(), 1u);
    expect_rules_kept(one, {}, ranges);
    // A heavy and some light items: all in, the heavy one near the middle.
    std::vector<ItemPtr> items{cube("H", 10, 2.0)};
    for (int i = 0; i < 6; ++i) items.push_back(cube("L", 0.5));
    const PackResponse mixed = optimise(items, {box("B", 6, 4, 2)}, with_rules(text, 1.0));
    EXPECT_EQ(mixed.total_placed(), items.size());
    EXPECT_EQ(mixed.box_count(), 1u);
    expect_rules_kept(mixed, {}, ranges);
    // Weightless items are exempt anywhere.
    const PackResponse light = optimise({cube("Z", 0)}, {box("B", 4, 2, 1)}, with_rules(text));
    EXPECT_EQ(light.total_placed(), 1u);
}

TEST(OptimiserRules, ARangeNoLoadCanMeetLeavesItsItemsUnpacked) {
    // A 2-wide item in a 4-wide box has its centre at 3 at most: 0.75 of the width.
    const PackResponse r =
        optimise({cube("H", 5, 2.0)}, {box("B", 4, 2, 2)},
                 with_rules(R"({"boxes": {"B": {"CentreOfGravity": {"X": [0.9, 1.0]}}}})"));
    EXPECT_EQ(r.total_placed(), 0u);
    EXPECT_EQ(r.total_unplaced(), 1u);
    EXPECT_FALSE(r.success());
    // Another box type without the rule takes it.
    const PackResponse other =
        optimise({cube("H", 5, 2.0)}, {box("B", 4, 2, 2), box("C", 4, 2, 2)},
                 with_rules(R"({"boxes": {"B": {"CentreOfGravity": {"X": [0.9, 1.0]}}}})"));
    ASSERT_EQ(other.total_placed(), 1u);
    EXPECT_EQ(other.boxes().elements()[0].box()->reference(), "C");
}

TEST(OptimiserRules, TheEnginesResultStartsTheSearchOnlyWhenItKeepsTheRules) {
    std::vector<ItemPtr> items;
    for (int i = 0; i < 4; ++i) items.push_back(cube("A", 1));
    const std::vector<BoxPtr> boxes{box("B", 2, 1, 2)};
    const PackResponse engine = pack_items(items_of(items), boxes_of(boxes));
    ASSERT_EQ(engine.box_count(), 1u);
    // Rules the engine's stack keeps: its result comes back as it is.
    EXPECT_TRUE(
        optimiser::keeps_rules(engine, LoadingRules::parse(R"({"items": {"A": {"MaxLoad": 1}}})")));
    const PackResponse kept =
        optimise(items, boxes, with_rules(R"({"items": {"A": {"MaxLoad": 1, "Stop": 1}}})"));
    EXPECT_EQ(to_json_text(kept, -1), to_json_text(engine, -1));
    // Fragile: the engine stacks them; the optimiser does not.
    const LoadingRules fragile = LoadingRules::parse(R"({"items": {"A": {"Fragile": true}}})");
    EXPECT_FALSE(optimiser::keeps_rules(engine, fragile));
    const PackResponse apart = optimise(items, boxes, with_rules(R"({"items": {"A":
                                                                  {"Fragile": true}}})"));
    EXPECT_EQ(apart.total_placed(), 4u);
    EXPECT_EQ(apart.box_count(), 2u);
    expect_rules_kept(apart, {{"A", {0.0, 0, {}}}});
    // An orientation the engine took and the rules forbid.
    const ItemPtr rod = make_item("R", "", 1, 3, 1, 1, "", Rotation::BEST_FIT);
    const PackResponse turned = pack_items(items_of({rod}), boxes_of({box("B", 3, 1, 1)}));
    ASSERT_EQ(turned.total_placed(), 1u);
    const std::string label = turned.boxes().elements()[0].items()[0].orientation();
    EXPECT_FALSE(optimiser::keeps_rules(
        turned, LoadingRules::parse(R"({"items": {"R": {"Orientations": ["WLD"]}}})")));
    EXPECT_TRUE(optimiser::keeps_rules(
        turned,
        LoadingRules::parse(R"({"items": {"R": {"Orientations": [")" + label + R"("]}}})")));
}

TEST(OptimiserRules, RandomRequestsWithRandomRulesKeepThemAll) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> side(1, 4);
    std::uniform_int_distribution<int> pick(0, 9);
    const char* labels[6] = {"WLD", "LWD", "WDL", "LDW", "DWL", "DLW"};
    int placed = 0;
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE(trial);
        std::vector<ItemPtr> items;
        std::map<std::string, Rule> rules;
        std::string text = "{\"items\": {";
        const int codes = 3 + pick(rng) % 4;
        for (int c = 0; c < codes; ++c) {
            const std::string code = "K" + std::to_string(c);
            const double weight = 1 + pick(rng) % 5 + (pick(rng) < 3 ? 0.1 : 0.0);
            const ItemPtr item = make_item(code, "", side(rng), side(rng), side(rng), weight,
                                           pick(rng) == 0 ? "G" : "", Rotation::BEST_FIT);
            for (int n = 1 + pick(rng) % 5; n > 0; --n) items.push_back(item);
            Rule rule;
            std::string keys;
            if (pick(rng) < 5) {
                rule.max_load = pick(rng) < 3 ? 0.0 : weight * (1 + pick(rng) % 3);
                keys += "\"MaxLoad\": " + std::to_string(rule.max_load);
                rule.max_load = std::stod(std::to_string(rule.max_load));
            }
            if (pick(rng) < 5) {
                rule.stop = 1 + pick(rng) % 3;
                keys += std::string(keys.empty() ? "" : ", ") +
                        "\"Stop\": " + std::to_string(rule.stop);
            }
            if (pick(rng) < 4) {
                std::string list;
                for (int t = 0; t < 6; ++t) {
                    if (pick(rng) < 4 || (t == 5 && rule.orientations.empty())) {
                        rule.orientations.push_back(labels[t]);
                        list += std::string(list.empty() ? "" : ", ") + "\"" + labels[t] + "\"";
                    }
                }
                keys += std::string(keys.empty() ? "" : ", ") + "\"Orientations\": [" + list + "]";
            }
            rules[code] = rule;
            text += std::string(c ? ", " : "") + "\"" + code + "\": {" + keys + "}";
        }
        const bool centred = pick(rng) < 4;
        text += "}, \"boxes\": {";
        if (centred) text += R"("B0": {"CentreOfGravity": {"X": [0.3, 0.7], "Y": [0.3, 0.7]}})";
        text += "}}";
        const std::vector<BoxPtr> boxes{box("B0", 4 + side(rng), 4 + side(rng), 3 + side(rng)),
                                        box("B1", 5, 5, 4)};
        std::map<std::string, Range> ranges;
        if (centred) ranges["B0"] = {0.3, 0.7, 0.3, 0.7};
        OptimiserOptions options = with_rules(text, trial % 3 == 0 ? 1.0 : 0.0);
        options.effort = 60'000;
        options.seed = static_cast<std::uint64_t>(trial);
        const PackResponse r = optimise(items, boxes, options);
        expect_rules_kept(r, rules, ranges);
        EXPECT_EQ(r.total_placed() + r.total_unplaced(), items.size());
        placed += static_cast<int>(r.total_placed());
    }
    EXPECT_GT(placed, 100);
}

}  // namespace
}  // namespace stowvex
