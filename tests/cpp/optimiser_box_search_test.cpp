// Filling one box: the greedy loading and the beam search keep every rule
// (inside the box, no overlap, allowed turns, weight, support), find fills
// that are there, and give the same loading for any number of threads.
#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "optimiser/box_search.hpp"
#include "optimiser/box_set.hpp"

namespace stowvex::optimiser {
namespace {

struct Load {
    std::vector<ItemPtr> items;
    KindTable kinds;
    BoxPtr box;
};

Load load_of(std::vector<ItemPtr> items, BoxPtr box) {
    KindTable kinds = group_into_kinds(items);
    return {std::move(items), std::move(kinds), std::move(box)};
}

// A search's loading with the problem it refers to.
struct Searched {
    std::unique_ptr<BoxProblem> problem;
    BoxLoading best;
};

Searched searched(const Load& load, double min_support, std::uint64_t effort, int threads = 1) {
    auto problem = std::make_unique<BoxProblem>(load.kinds, load.kinds.counts(), *load.box,
                                                min_support, CatalogueSettings{});
    WorkBudget budget(std::nullopt, effort);
    WorkerPool pool(threads);
    BoxLoading best = search_box(*problem, budget, pool);
    return {std::move(problem), std::move(best)};
}

// Every rule a loading must keep, checked on its laid-out items.
void expect_sound(const BoxLoading& loading, const Load& load, double min_support) {
    const std::vector<LaidItem> laid = loading.laid_items();
    std::vector<Cuboid> cuboids;
    double weight = 0.0;
    const Vec3 box{load.box->width(), load.box->length(), load.box->depth()};
    for (const LaidItem& item : laid) {
        const ItemKind& kind = load.kinds.kinds[item.kind];
        const Vec3& size = kind.orientations[item.orientation].size;
        Cuboid c{item.position, {}};
        for (int a = 0; a < 3; ++a) {
            c.high[a] = c.low[a] + size[a];
            EXPECT_GE(c.low[a], 0.0);
            EXPECT_LE(c.high[a], box[a]);
        }
        for (const Cuboid& other : cuboids) EXPECT_FALSE(overlaps(c, other));
        cuboids.push_back(c);
        weight += kind.weight;
    }
    if (load.box->has_weight_limit()) {
        EXPECT_LE(weight, load.box->max_item_weight());
    }
    for (const bool ok : supported_cuboids(cuboids, min_support)) EXPECT_TRUE(ok);
}

std::vector<ItemPtr> random_items(std::mt19937& rng, int n) {
    std::uniform_int_distribution<int> side(1, 6);
    std::uniform_int_distribution<int> kind(0, 2);
    const double tenths[] = {0.1, 0.3, 0.7};
    std::vector<ItemPtr> items;
    for (int i = 0; i < n; ++i) {
        const Rotation turn = static_cast<Rotation>(kind(rng));
        // Some sides in tenths, whose sums round.
        const double w = side(rng) + (i % 3 == 0 ? tenths[kind(rng)] : 0.0);
        items.push_back(make_item("I" + std::to_string(i), "", w, side(rng), side(rng),
                                  0.5 * side(rng), "", turn));
    }
    return items;
}

TEST(OptimiserBoxSearch, FillsATightBoxCompletely) {
    // 4 x 5 x 2: two 2 x 4 x 2 bars side by side, and four 1 x 2 x 1
    // bricks in the 4 x 1 x 2 strip left over.
    std::vector<ItemPtr> items(2, make_item("BAR", "", 2, 4, 2, 0, "", Rotation::BEST_FIT));
    for (int i = 0; i < 4; ++i) {
        items.push_back(make_item("BRICK", "", 1, 2, 1, 0, "", Rotation::BEST_FIT));
    }
    const Load load = load_of(items, make_box("B", 4, 5, 2, -1, 0, true, std::nullopt));
    const Searched s = searched(load, 0.0, 1'000'000);
    EXPECT_TRUE(s.best.everything_placed());
    EXPECT_EQ(s.best.laid_items().size(), 6u);
    EXPECT_EQ(s.best.volume(), 40.0);
    expect_sound(s.best, load, 0.0);
}

TEST(OptimiserBoxSearch, RandomLoadsKeepEveryRule) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 40; ++trial) {
        const double support = trial % 3 == 0 ? 1.0 : trial % 3 == 1 ? 0.6 : 0.0;
        const double max_weight = trial % 2 ? 20.0 : -1.0;
        const Load load = load_of(random_items(rng, 30),
                                  make_box("B", 9.5, 10, 8, max_weight, 1.5, true, std::nullopt));
        const Searched s = searched(load, support, 200'000);
        SCOPED_TRACE(trial);
        expect_sound(s.best, load, support);
        EXPECT_FALSE(s.best.laid_items().empty());
    }
}

TEST(OptimiserBoxSearch, GeneralBlocksKeepEveryRuleAndNeverReuseItems) {
    // Forty kinds of one to three items each, whole sides: the catalogue
    // makes general blocks, and the loadings place some of them.
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> side(2, 6);
    std::uniform_int_distribution<int> copies(1, 3);
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(trial);
        std::vector<ItemPtr> items;
        for (int k = 0; k < 40; ++k) {
            const double w = side(rng);
            const double l = side(rng);
            const double d = side(rng);
            const int n = copies(rng);
            for (int c = 0; c < n; ++c) {
                items.push_back(
                    make_item("K" + std::to_string(k), "", w, l, d, 1.5, "", Rotation::BEST_FIT));
            }
        }
        const double support = trial % 2 ? 1.0 : 0.0;
        const double max_weight = trial % 3 == 2 ? 60.0 : -1.0;
        const Load load =
            load_of(items, make_box("B", 14, 15, 13, max_weight, 1.0, true, std::nullopt));
        const Searched s = searched(load, support, 300'000);
        expect_sound(s.best, load, support);
        std::size_t general = 0;
        for (const BlockPlacement& p : s.best.placements()) {
            general += s.problem->catalogue[p.block].general() ? 1 : 0;
        }
        EXPECT_GT(general, 0u);
        std::vector<int> placed(load.kinds.kinds.size(), 0);
        for (const LaidItem& item : s.best.laid_items()) ++placed[item.kind];
        for (std::size_t k = 0; k < placed.size(); ++k) EXPECT_LE(placed[k], s.problem->offered[k]);
    }
}

TEST(OptimiserBoxSearch, HeavierLoadsStopAtTheWeightBudget) {
    // Budget 10 - 1 = 9: three items of 3 exactly, never a fourth.
    std::vector<ItemPtr> items(6, make_item("A", "", 1, 1, 1, 3, "", Rotation::NEVER));
    const Load load = load_of(items, make_box("B", 6, 1, 1, 10, 1, true, std::nullopt));
    EXPECT_EQ(searched(load, 0.0, 100'000).best.laid_items().size(), 3u);
}

TEST(OptimiserBoxSearch, FullSupportPutsNothingOverAGap) {
    // A tall and a short column side by side: a wide slab on top would
    // overhang the short one, so it must lie on the floor.
    std::vector<ItemPtr> items{make_item("TALL", "", 2, 2, 3, 0, "", Rotation::NEVER),
                               make_item("SHORT", "", 2, 2, 1, 0, "", Rotation::NEVER),
                               make_item("SLAB", "", 4, 2, 1, 0, "", Rotation::NEVER)};
    const Load load = load_of(items, make_box("B", 4, 4, 4, -1, 0, true, std::nullopt));
    const Searched s = searched(load, 1.0, 100'000);
    expect_sound(s.best, load, 1.0);
    EXPECT_EQ(s.best.laid_items().size(), 3u);
}

TEST(OptimiserBoxSearch, ThreadsChangeNothingButSpeed) {
    std::mt19937 rng(11);
    const Load load =
        load_of(random_items(rng, 60), make_box("B", 12, 14, 10, -1, 0, true, std::nullopt));
    const Searched one = searched(load, 0.0, 2'000'000, 1);
    const Searched three = searched(load, 0.0, 2'000'000, 3);
    const auto& a = one.best.placements();
    const auto& b = three.best.placements();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].block, b[i].block);
        EXPECT_EQ(a[i].corner, b[i].corner);
    }
}

TEST(OptimiserBoxSearch, SplitGroupsAreTakenOut) {
    // Four items of one group, of which the box holds only three: the group
    // leaves the box whole; the plain item stays.
    std::vector<ItemPtr> items(4, make_item("G", "", 1, 1, 1, 0, "KIT", Rotation::NEVER));
    items.push_back(make_item("P", "", 1, 1, 1, 0, "", Rotation::NEVER));
    const Load load = load_of(items, make_box("B", 3, 1, 1, -1, 0, true, std::nullopt));
    const Searched s = searched(load, 0.0, 100'000);
    const FilledBox box = filled_box_of(s.best, 0, 0.0);
    ASSERT_EQ(box.items.size(), 1u);
    EXPECT_EQ(load.kinds.kinds[box.items[0].kind].group, -1);
}

TEST(WorkBudget, EffortAndSharesCountTogether) {
    // 50 units; the budget counts ticks.
    WorkBudget budget(std::nullopt, 100 / kTicksPerUnit);
    {
        WorkBudget part = budget.share(0.5);
        EXPECT_EQ(part.effort_left(), std::optional<std::uint64_t>(50));
        part.spend(50);
        EXPECT_TRUE(part.exhausted());
    }
    EXPECT_EQ(budget.effort_left(), std::optional<std::uint64_t>(50));
    EXPECT_FALSE(budget.exhausted());
    budget.spend(60);
    EXPECT_TRUE(budget.exhausted());
    const WorkBudget unlimited(std::nullopt, std::nullopt);
    EXPECT_FALSE(unlimited.exhausted());
    EXPECT_FALSE(unlimited.effort_left().has_value());
}

TEST(WorkerPool, RunsEveryTaskOnceAndPassesOnAFailure) {
    WorkerPool pool(3);
    std::vector<int> seen(100, 0);
    pool.run(seen.size(), [&](std::size_t i) { seen[i] += 1; });
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 100);
    EXPECT_THROW(pool.run(10,
                          [](std::size_t i) {
                              if (i == 4) throw std::runtime_error("task failed");
                          }),
                 std::runtime_error);
    pool.run(5, [&](std::size_t i) { seen[i] = 7; });  // still usable
    EXPECT_EQ(seen[4], 7);
}

}  // namespace
}  // namespace stowvex::optimiser
