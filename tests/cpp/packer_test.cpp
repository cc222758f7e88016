// The packer driver: box choice, quantity limits, box groups, the balancing
// threshold, and invariants over random whole runs.
#include "engine/packer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packing_tally.hpp"
#include "interchange/result_writer.hpp"
#include "packing_checks.hpp"

namespace stowvex {
namespace {

ItemPtr cube(const std::string& code, double weight, const std::string& group = "") {
    return make_item(code, code, 1, 1, 1, weight, group, Rotation::NEVER);
}

BoxPtr bar(const std::string& reference, double slots, std::optional<std::int32_t> quantity = {},
           double empty_weight = 0, double max_weight = -1) {
    return make_box(reference, slots, 1, 1, max_weight, empty_weight, true, quantity);
}

using testing::boxes_of;
using testing::items_of;

std::vector<ItemPtr> cubes(int count, double weight = 1) {
    std::vector<ItemPtr> items;
    for (int i = 0; i < count; ++i) items.push_back(cube("C" + std::to_string(i), weight));
    return items;
}

std::multiset<const Box*> box_types(const PackResponse& response) {
    std::multiset<const Box*> types;
    for (const PackedBox& box : response.boxes().sorted_view()) types.insert(box.box().get());
    return types;
}

TEST(PackerDriver, EmptyRequestSucceedsWithNothing) {
    PackResponse response = pack_items(items_of({}), boxes_of({bar("B", 2)}));
    EXPECT_TRUE(response.success());
    EXPECT_EQ(response.box_count(), 0u);
    EXPECT_EQ(response.total_unplaced(), 0u);
    EXPECT_EQ(response.overall_volume_utilisation(), 0.0);
}

TEST(PackerDriver, InactiveTypesAreNeverUsed) {
    BoxPtr inactive = make_box("OFF", 10, 10, 10, -1, 0, false, std::nullopt);
    PackResponse response = pack_items(items_of(cubes(3)), boxes_of({inactive}));
    EXPECT_FALSE(response.success());
    EXPECT_EQ(response.box_count(), 0u);
    EXPECT_EQ(response.total_unplaced(), 3u);
}

TEST(PackerDriver, LimitedTypeIsUsedUpToItsQuantity) {
    BoxPtr limited = bar("L", 3, 2);
    BoxPtr plain = bar("U", 2);
    PackResponse response = pack_items(items_of(cubes(8)), boxes_of({limited, plain}));
    EXPECT_TRUE(response.success());
    EXPECT_EQ(box_types(response),
              (std::multiset<const Box*>{limited.get(), limited.get(), plain.get()}));
}

// Trials: the small type and the limited one twice, then the small type
// holds the last two. Three boxes whose weights no move evens out: the
// balancing pass asks for nothing.
TEST(PackingTally, CountsTheTrialsOfARunOnItsOwnThreadOnly) {
    const auto run = [] {
        const PackingTally before = packing_tally();
        pack_items(items_of(cubes(8)), boxes_of({bar("L", 3, 2), bar("U", 2)}));
        const PackingTally after = packing_tally();
        return std::make_pair(after.asked - before.asked, after.packed - before.packed);
    };
    EXPECT_EQ(run(), std::make_pair(std::uint64_t{5}, std::uint64_t{5}));
    const PackingTally before = packing_tally();
    std::pair<std::uint64_t, std::uint64_t> elsewhere;
    std::thread other([&] { elsewhere = run(); });
    other.join();
    EXPECT_EQ(elsewhere, std::make_pair(std::uint64_t{5}, std::uint64_t{5}));
    EXPECT_EQ(packing_tally().asked, before.asked);
    EXPECT_EQ(packing_tally().packed, before.packed);
}

TEST(PackerDriver, QuantityZeroOrBelowIsNeverUsed) {
    for (std::int32_t quantity : {0, -4}) {
        BoxPtr limited = bar("L", 3, quantity);
        BoxPtr plain = bar("U", 2);
        PackResponse response = pack_items(items_of(cubes(4)), boxes_of({limited, plain}));
        EXPECT_EQ(box_types(response), (std::multiset<const Box*>{plain.get(), plain.get()}));
    }
}

TEST(PackerDriver, TypesSharingAReferenceShareOneCount) {
    BoxPtr limited = bar("R", 3, 1);
    BoxPtr unlimited = bar("R", 4);
    BoxPtr small = bar("C", 2);
    // The unlimited "R" type takes the first four; the limited one would fill
    // the second box exactly, but its reference has already been used once.
    PackResponse response = pack_items(items_of(cubes(7)), boxes_of({limited, unlimited, small}));
    EXPECT_TRUE(response.success());
    EXPECT_EQ(box_types(response), (std::multiset<const Box*>{unlimited.get(), unlimited.get()}));
}

TEST(PackerDriver, EqualTrialNeverDisplacesAnEarlierOne) {
    BoxPtr lighter = make_box("X", 2, 1, 1, -1, 1, true, std::nullopt);
    BoxPtr heavier = make_box("Y", 1, 2, 1, -1, 2, true, std::nullopt);
    PackResponse response = pack_items(items_of(cubes(3)), boxes_of({heavier, lighter}));
    EXPECT_EQ(box_types(response), (std::multiset<const Box*>{lighter.get(), lighter.get()}));
}

TEST(PackerDriver, GroupThatNeverFitsTogetherStaysOutWhileOthersPack) {
    BoxPtr box = make_box("B", 10, 10, 10, -1, 0, true, std::nullopt);
    ItemPtr g1 = make_item("G1", "", 6, 6, 6, 1, "KIT", Rotation::BEST_FIT);
    ItemPtr g2 = make_item("G2", "", 6, 6, 6, 1, "KIT", Rotation::BEST_FIT);
    ItemPtr p1 = make_item("P1", "", 2, 2, 2, 1, "", Rotation::BEST_FIT);
    ItemPtr p2 = make_item("P2", "", 2, 2, 2, 1, "", Rotation::BEST_FIT);
    PackResponse response = pack_items(items_of({g1, p1, g2, p2}), boxes_of({box}));
    EXPECT_FALSE(response.success());
    ASSERT_EQ(response.box_count(), 1u);
    EXPECT_EQ(response.total_placed(), 2u);
    std::vector<ItemPtr> unplaced = response.unplaced_items().elements();
    std::sort(unplaced.begin(), unplaced.end());
    std::vector<ItemPtr> expected{g1, g2};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(unplaced, expected);
}

// A group item of negative weight once lent its box room for a heavy item;
// the group was then dropped as split and the heavy item stayed, 50 kg in a
// box that may hold 2.
TEST(PackerDriver, DroppedGroupLeavesNoBoxOverItsWeightLimit) {
    BoxPtr box = make_box("B", 10, 10, 10, 2, 0, true, std::nullopt);
    ItemPtr g1 = make_item("G1", "", 5, 5, 5, -100, "G", Rotation::BEST_FIT);
    ItemPtr g2 = make_item("G2", "", 20, 20, 20, 0, "G", Rotation::BEST_FIT);
    ItemPtr heavy = make_item("H", "", 1, 1, 1, 50, "", Rotation::BEST_FIT);
    ItemPtr light = make_item("L", "", 1, 1, 1, 2, "", Rotation::BEST_FIT);
    PackResponse response = pack_items(items_of({g1, g2, heavy, light}), boxes_of({box}));
    ASSERT_EQ(response.box_count(), 1u);
    const PackedBox& packed = response.boxes().sorted_view()[0];
    ASSERT_EQ(packed.item_count(), 1u);
    EXPECT_EQ(packed.items()[0].item(), light);
    EXPECT_EQ(response.total_unplaced(), 3u);
}

TEST(PackerDriver, TrialHoldingOnlyPartOfAGroupCountsAsEmpty) {
    BoxPtr single = make_box("ONE", 6, 6, 6, -1, 0, true, std::nullopt);
    BoxPtr pair = make_box("TWO", 12, 6, 6, -1, 0, true, std::nullopt);
    ItemPtr g1 = make_item("G1", "", 6, 6, 6, 1, "KIT", Rotation::NEVER);
    ItemPtr g2 = make_item("G2", "", 6, 6, 6, 1, "KIT", Rotation::NEVER);
    PackResponse response = pack_items(items_of({g1, g2}), boxes_of({single, pair}));
    ASSERT_TRUE(response.success());
    ASSERT_EQ(response.box_count(), 1u);
    EXPECT_EQ(response.boxes().sorted_view()[0].box(), pair);
}

TEST(PackerDriver, DropsOnlyTheSplitGroupsPlacements) {
    BoxPtr box = bar("B", 3);
    ItemPtr a1 = cube("A1", 1, "A");
    ItemPtr a2 = cube("A2", 1, "A");
    ItemPtr b1 = cube("B1", 1, "B");
    ItemPtr b2 = cube("B2", 1, "B");
    GroupCounts counts{{"A", 2}, {"B", 2}};
    PackedBox trial(box);
    trial.add(PackedItem(a1, 1, 1, 1, "WLD", 0, 0, 0));
    trial.add(PackedItem(a2, 1, 1, 1, "WLD", 1, 0, 0));
    trial.add(PackedItem(b1, 1, 1, 1, "WLD", 2, 0, 0));
    PackedBox kept = drop_split_groups(trial, counts);
    ASSERT_EQ(kept.item_count(), 2u);
    EXPECT_EQ(kept.items()[0].item(), a1);
    EXPECT_EQ(kept.items()[1].item(), a2);
    EXPECT_EQ(kept.items()[1].x(), 1.0);
    EXPECT_EQ(drop_split_groups(trial, {}).item_count(), 3u);
}

TEST(PackerDriver, OversizedItemIsUnplacedOthersPack) {
    ItemPtr huge = make_item("HUGE", "", 50, 1, 1, 1, "", Rotation::BEST_FIT);
    std::vector<ItemPtr> items = cubes(2);
    items.push_back(huge);
    PackResponse response = pack_items(items_of(items), boxes_of({bar("B", 2)}));
    EXPECT_FALSE(response.success());
    EXPECT_EQ(response.total_placed(), 2u);
    ASSERT_EQ(response.total_unplaced(), 1u);
    EXPECT_EQ(response.unplaced_items().elements()[0], huge);
}

TEST(PackerDriver, CallersListsAreLeftAlone) {
    ItemList items = items_of(cubes(5));
    BoxList boxes = boxes_of({bar("B", 2)});
    const std::vector<ItemPtr> before = items.elements();
    pack_items(items, boxes);
    EXPECT_EQ(items.elements(), before);
}

// Descending weights in boxes that hold two cubes: the last box holds the
// lightest cube alone, and balancing would move a heavy cube into it.
std::vector<ItemPtr> descending_cubes(int count) {
    std::vector<ItemPtr> items;
    for (int i = count; i >= 1; --i) items.push_back(cube("W" + std::to_string(i), i));
    return items;
}

double lightest_box_item_weight(const PackResponse& response) {
    double lightest = std::numeric_limits<double>::infinity();
    for (const PackedBox& box : response.boxes().elements()) {
        lightest = std::min(lightest, box.item_weight());
    }
    return lightest;
}

TEST(PackerDriver, BalancesTwelveBoxesButNotThirteen) {
    PackResponse twelve = pack_items(items_of(descending_cubes(23)), boxes_of({bar("B", 2)}));
    ASSERT_EQ(twelve.box_count(), 12u);
    EXPECT_GT(lightest_box_item_weight(twelve), 1.0);

    PackResponse thirteen = pack_items(items_of(descending_cubes(25)), boxes_of({bar("B", 2)}));
    ASSERT_EQ(thirteen.box_count(), 13u);
    EXPECT_EQ(lightest_box_item_weight(thirteen), 1.0);
}

// Random whole runs: every item once, sound geometry, weight budgets,
// quantity limits and box groups kept.
struct RandomRun {
    std::vector<ItemPtr> items;
    std::vector<BoxPtr> boxes;
};

RandomRun random_run(std::mt19937& rng) {
    std::uniform_int_distribution<int> count(0, 24);
    std::uniform_int_distribution<int> size(1, 8);
    std::uniform_real_distribution<double> weight(0.0, 10.0);
    std::uniform_int_distribution<int> pick(0, 9);
    RandomRun run;
    const int item_count = count(rng);
    for (int i = 0; i < item_count; ++i) {
        const int roll = pick(rng);
        const std::string group = roll < 2 ? "G" + std::to_string(roll) : "";
        const Rotation rotation = static_cast<Rotation>(pick(rng) % 3);
        // A few whole-number sizes make ties and exact fits common.
        const auto extent = [&] { return pick(rng) < 5 ? size(rng) : size(rng) * 0.75; };
        ItemPtr item = make_item("I" + std::to_string(i), "", extent(), extent(), extent(),
                                 weight(rng), group, rotation);
        run.items.push_back(item);
        if (pick(rng) == 0) run.items.push_back(item);  // the same object twice
    }
    const int box_count = 1 + pick(rng) % 4;
    for (int b = 0; b < box_count; ++b) {
        const int roll = pick(rng);
        std::optional<std::int32_t> quantity;
        if (roll < 4) quantity = roll - 1;
        run.boxes.push_back(make_box("B" + std::to_string(b), size(rng) + 4, size(rng) + 4,
                                     size(rng) + 4, roll % 2 ? 25.0 : -1.0, roll % 3, roll != 9,
                                     quantity));
    }
    return run;
}

void expect_sound_run(const RandomRun& run, const PackResponse& response) {
    std::map<const Item*, int> expected;
    for (const ItemPtr& item : run.items) ++expected[item.get()];
    std::map<const Item*, int> seen;
    std::map<const Box*, int> boxes_of_type;
    std::map<std::string, std::set<const PackedBox*>> group_boxes;
    std::map<std::string, int> group_placed;
    for (const PackedBox& box : response.boxes().sorted_view()) {
        testing::expect_sound_geometry(box);
        EXPECT_TRUE(box.box()->active());
        ++boxes_of_type[box.box().get()];
        const double budget = box.box()->max_item_weight();
        if (budget >= 0) {
            EXPECT_LE(box.item_weight(), budget);
        }
        std::set<const Item*> in_box;
        for (const PackedItem& p : box.items()) {
            ++seen[p.item().get()];
            EXPECT_TRUE(in_box.insert(p.item().get()).second) << "one object twice in one box";
            if (const std::string* group = box_group_of(*p.item())) {
                group_boxes[*group].insert(&box);
                ++group_placed[*group];
            }
        }
    }
    for (const ItemPtr& item : response.unplaced_items().elements()) {
        ++seen[item.get()];
        if (const std::string* group = box_group_of(*item)) {
            EXPECT_EQ(group_placed[*group], 0) << "group " << *group << " split";
        }
    }
    EXPECT_EQ(seen, expected);
    for (const auto& [group, holders] : group_boxes) EXPECT_EQ(holders.size(), 1u) << group;
    for (const auto& [type, used] : boxes_of_type) {
        if (const LimitedSupplyBox* limited = limited_supply_of(*type)) {
            EXPECT_LE(used, std::max(0, limited->max_quantity())) << type->reference();
        }
    }
    EXPECT_EQ(response.success(), response.total_unplaced() == 0);
}

TEST(PackerDriver, RandomRunsKeepEveryInvariant) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 300; ++round) {
        RandomRun run = random_run(rng);
        PackResponse response = pack_items(items_of(run.items), boxes_of(run.boxes));
        SCOPED_TRACE("round " + std::to_string(round));
        expect_sound_run(run, response);
        if (HasFailure()) break;
    }
}

TEST(PackerDriver, RunsAreDeterministic) {
    std::mt19937 rng(7);
    for (int round = 0; round < 30; ++round) {
        RandomRun run = random_run(rng);
        EXPECT_EQ(to_json_text(pack_items(items_of(run.items), boxes_of(run.boxes)), -1),
                  to_json_text(pack_items(items_of(run.items), boxes_of(run.boxes)), -1));
    }
}

}  // namespace
}  // namespace stowvex
