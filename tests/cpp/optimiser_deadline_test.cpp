// The optimiser's deadline and work accounting: a budget whose time is up
// still ends in a complete, valid construction where overtime allows it, the
// lower bound cut short is still a bound, the support test over sorted tops
// agrees with the test of every pair, and a fixed effort counts the same work
// twice. No test here measures time: an expired deadline is one of a
// nanosecond, checked after work that takes longer.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packer.hpp"
#include "optimiser/box_set_search.hpp"
#include "optimiser/box_types.hpp"
#include "optimiser/lower_bound.hpp"
#include "optimiser/objective.hpp"
#include "optimiser/optimiser.hpp"
#include "optimiser/support.hpp"
#include "optimiser/work_budget.hpp"
#include "optimiser/worker_pool.hpp"
#include "packing_checks.hpp"

namespace stowvex::optimiser {
namespace {

using stowvex::testing::boxes_of;
using stowvex::testing::items_of;

// A budget whose deadline has passed.
void wait_out(const WorkBudget& budget) {
    while (!budget.out_of_time()) std::this_thread::yield();
}

std::vector<ItemPtr> cubes(int n, double side) {
    std::vector<ItemPtr> items;
    for (int i = 0; i < n; ++i) {
        items.push_back(
            make_item("C" + std::to_string(i), "", side, side, side, 0, "", Rotation::NEVER));
    }
    return items;
}

TEST(OptimiserDeadline, OvertimeOutlastsTheDeadlineOnlyWhenAllowed) {
    WorkBudget budget(1e-9, std::nullopt);
    wait_out(budget);
    EXPECT_TRUE(budget.overtime(1).out_of_time());
    budget.allow_overtime(3600.0);
    WorkBudget part = budget.share(0.5);
    EXPECT_TRUE(part.out_of_time());
    const WorkBudget late = part.overtime(5);
    EXPECT_FALSE(late.out_of_time());
    EXPECT_EQ(late.effort_left(), std::optional<std::uint64_t>(5 * kTicksPerUnit));
}

TEST(OptimiserDeadline, ConstructionOutOfTimeFinishesEveryBoxInOvertime) {
    // 40 cubes of 2 into boxes of 4 x 4 x 4 (8 each): five boxes, under full
    // support, built with no time left but an hour of overtime.
    const std::vector<ItemPtr> items = cubes(40, 2);
    const std::vector<BoxPtr> boxes{make_box("B", 4, 4, 4, -1, 0, true, std::nullopt)};
    const KindTable kinds = group_into_kinds(items);
    const BoxTypes types(boxes, {});
    const Objective objective(false);
    WorkerPool pool(1);
    const LoadingRules rules;
    WorkBudget budget(1e-9, std::nullopt);
    wait_out(budget);
    budget.allow_overtime(3600.0);
    BoxSetSearch search(kinds, types, objective, {1.0, 0, &rules}, pool, &budget);
    const BoxSet set = search.run(budget, nullptr);
    EXPECT_EQ(set.placed(), items.size());
    for (const FilledBox& box : set.boxes) {
        std::vector<Cuboid> cuboids;
        for (const LaidItem& laid : box.items) {
            const Vec3& size = kinds.kinds[laid.kind].orientations[laid.orientation].size;
            cuboids.push_back({laid.position,
                               {laid.position[0] + size[0], laid.position[1] + size[1],
                                laid.position[2] + size[2]}});
        }
        const Cuboid whole{{0, 0, 0}, {4, 4, 4}};
        for (std::size_t i = 0; i < cuboids.size(); ++i) {
            EXPECT_TRUE(contains(whole, cuboids[i]));
            for (std::size_t j = i + 1; j < cuboids.size(); ++j) {
                EXPECT_FALSE(overlaps(cuboids[i], cuboids[j]));
            }
        }
        for (const bool ok : supported_cuboids(cuboids, 1.0)) EXPECT_TRUE(ok);
    }
}

TEST(OptimiserDeadline, ConstructionOutOfTimeWithoutOvertimeStaysValidAndUnfinished) {
    const std::vector<ItemPtr> items = cubes(40, 2);
    const std::vector<BoxPtr> boxes{make_box("B", 4, 4, 4, -1, 0, true, std::nullopt)};
    const KindTable kinds = group_into_kinds(items);
    const BoxTypes types(boxes, {});
    const Objective objective(false);
    WorkerPool pool(1);
    const LoadingRules rules;
    WorkBudget budget(1e-9, std::nullopt);
    wait_out(budget);
    BoxSetSearch search(kinds, types, objective, {1.0, 0, &rules}, pool, &budget);
    const BoxSet set = search.run(budget, nullptr);
    EXPECT_LE(set.placed(), items.size());
    for (const FilledBox& box : set.boxes) EXPECT_LE(box.items.size(), 8u);
}

TEST(OptimiserDeadline, AnExpiredLimitReturnsTheEnginesResultWhenItKeepsTheRules) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> side(1, 6);
    std::vector<ItemPtr> items;
    for (int i = 0; i < 300; ++i) {
        items.push_back(make_item("I" + std::to_string(i), "", side(rng), side(rng), side(rng), 0,
                                  "", Rotation::BEST_FIT));
    }
    const std::vector<BoxPtr> boxes{make_box("B", 12, 12, 12, -1, 0, true, std::nullopt)};
    const PackResponse engine = pack_items(items_of(items), boxes_of(boxes));
    OptimiserOptions options;
    options.time_limit = 1e-9;
    const PackResponse result = optimise_items(items_of(items), boxes_of(boxes), options);
    EXPECT_EQ(result.total_placed(), engine.total_placed());
    EXPECT_EQ(result.box_count(), engine.box_count());
}

TEST(OptimiserDeadline, TheLowerBoundCutShortIsStillABound) {
    // 500 kinds (above kMaxDeepKinds), each longer than half the box: no two
    // share a box, so the full bound is 500 boxes.
    std::vector<ItemPtr> items;
    for (int i = 0; i < 500; ++i) {
        items.push_back(make_item("K" + std::to_string(i), "", 600 + i * 0.5, 600, 600, 0, "",
                                  Rotation::NEVER));
    }
    const std::vector<BoxPtr> boxes{make_box("B", 1000, 1000, 1000, -1, 0, true, std::nullopt)};
    const KindTable kinds = group_into_kinds(items);
    const BoxTypes types(boxes, {});
    EXPECT_EQ(box_count_bound(kinds, kinds.counts(), types), 500u);
    WorkBudget expired(1e-9, std::nullopt);
    wait_out(expired);
    const std::size_t cut = box_count_bound(kinds, kinds.counts(), types, &expired);
    EXPECT_GE(cut, 1u);
    EXPECT_LE(cut, 500u);
}

TEST(OptimiserDeadline, SupportOverSortedTopsAgreesWithEveryPair) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> at(0, 6);
    std::uniform_int_distribution<int> size(1, 3);
    for (int round = 0; round < 50; ++round) {
        std::vector<Cuboid> cuboids;
        for (int n = 0; n < 30; ++n) {
            const Vec3 low{double(at(rng)), double(at(rng)), double(at(rng) % 4)};
            cuboids.push_back({low, {low[0] + size(rng), low[1] + size(rng), low[2] + size(rng)}});
        }
        for (const double ratio : {0.3, 0.7, 1.0}) {
            const std::vector<bool> got = supported_cuboids(cuboids, ratio);
            for (std::size_t i = 0; i < cuboids.size(); ++i) {
                double area = 0.0;
                for (std::size_t j = 0; j < cuboids.size(); ++j) {
                    if (j != i && cuboids[j].high[2] == cuboids[i].low[2]) {
                        area += footprint_overlap(cuboids[j], cuboids[i]);
                    }
                }
                const double base = cuboids[i].extent(0) * cuboids[i].extent(1);
                const bool want = cuboids[i].low[2] == 0.0 || enough_support(area, base, ratio);
                EXPECT_EQ(got[i], want);
            }
        }
    }
}

TEST(OptimiserWork, AFixedEffortCountsTheSameWorkTwice) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> side(1, 5);
    std::vector<ItemPtr> items;
    for (int i = 0; i < 60; ++i) {
        items.push_back(make_item("I" + std::to_string(i), "", side(rng), side(rng), side(rng), 0,
                                  "", Rotation::NEVER));
    }
    const std::vector<BoxPtr> boxes{make_box("B", 7, 8, 6, -1, 0, true, std::nullopt)};
    OptimiserOptions options;
    options.time_limit.reset();
    options.effort = 200'000;
    std::vector<std::uint64_t> spent;
    for (int run = 0; run < 2; ++run) {
        const std::uint64_t before = work_tally();
        optimise_items(items_of(items), boxes_of(boxes), options);
        spent.push_back(work_tally() - before);
    }
    // The tally is whole units of the ticks summed over all calls: a call's
    // share may round either way by one unit.
    EXPECT_LE(spent[0] > spent[1] ? spent[0] - spent[1] : spent[1] - spent[0], 1u);
    EXPECT_GT(spent[0], 0u);
}

TEST(OptimiserWork, TheLastRoundOfTheBeamStaysWithinTheEffort) {
    // Rotatable items of many kinds in one large box: the beam runs into
    // its effort in the middle of a round, whose extensions it then scores
    // only as far as the effort pays for them.
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> side(20, 90);
        std::vector<ItemPtr> items;
        for (int i = 0; i < 120; ++i) {
            items.push_back(make_item("I" + std::to_string(i), "", side(rng), side(rng), side(rng),
                                      0, "", Rotation::BEST_FIT));
        }
        const std::vector<BoxPtr> boxes{make_box("C", 300, 200, 200, -1, 0, true, 1)};
        for (const std::uint64_t effort : {2'000'000u, 8'000'000u}) {
            OptimiserOptions options;
            options.time_limit.reset();
            options.effort = effort;
            const std::uint64_t before = work_tally();
            optimise_items(items_of(items), boxes_of(boxes), options);
            const std::uint64_t spent = work_tally() - before;
            EXPECT_GT(spent, effort / 2) << "seed " << seed;
            EXPECT_LE(spent, effort + effort / 10) << "seed " << seed << ", effort " << effort;
        }
    }
}

}  // namespace
}  // namespace stowvex::optimiser
