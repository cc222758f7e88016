// The rules both packing methods keep: weight, quantity and box groups.
#include "model/packing_rules.hpp"

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace stowvex {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(WeightRule, NoLimitTakesAnyWeight) {
    for (const double weight : {-5.0, 0.0, 7.0, kNaN, kInf, -kInf}) {
        EXPECT_TRUE(weight_allows(1e300, weight, -1.0)) << weight;
        EXPECT_TRUE(weight_admitted(weight, -0.5)) << weight;
    }
}

TEST(WeightRule, UnderALimitOnlyWeightsOfZeroOrMoreWithinTheBudget) {
    EXPECT_TRUE(weight_allows(3.0, 7.0, 10.0));  // exactly the budget
    EXPECT_FALSE(weight_allows(3.0, 7.5, 10.0));
    EXPECT_TRUE(weight_allows(0.0, -0.0, 0.0));  // -0 is no negative weight
    EXPECT_TRUE(weight_allows(0.0, 0.0, 0.0));
    // A negative weight would lend room to the items after it; a huge one
    // would swallow their weights whole.
    EXPECT_FALSE(weight_allows(5.0, -1.0, 10.0));
    EXPECT_FALSE(weight_allows(0.0, -1e19, 10.0));
    // NaN compares false with everything, and so never passes.
    EXPECT_FALSE(weight_allows(0.0, kNaN, 10.0));
    EXPECT_FALSE(weight_allows(kNaN, 1.0, 10.0));
    EXPECT_FALSE(weight_allows(0.0, kInf, 10.0));
    EXPECT_TRUE(weight_allows(0.0, 5.0, kInf));
    // The weight test and the budget test are its two halves.
    EXPECT_TRUE(weight_admitted(20.0, 10.0));
    EXPECT_FALSE(within_budget(20.0, 10.0));
    EXPECT_FALSE(weight_admitted(-1.0, 10.0));
    EXPECT_TRUE(within_budget(-1.0, 10.0));
}

TEST(QuantityRule, BoxesWhileFewerThanTheLimitAreOpen) {
    EXPECT_TRUE(supply_left(0, 1));
    EXPECT_FALSE(supply_left(1, 1));
    EXPECT_FALSE(supply_left(0, 0));
    EXPECT_FALSE(supply_left(0, -3));  // a negative limit allows none
    EXPECT_EQ(boxes_left(0, 3), 3);
    EXPECT_EQ(boxes_left(2, 3), 1);
    EXPECT_EQ(boxes_left(3, 3), 0);
    EXPECT_EQ(boxes_left(5, 3), 0);
    EXPECT_EQ(boxes_left(0, -3), 0);
}

TEST(GroupRule, SomeButNotAllSplitsAGroup) {
    EXPECT_FALSE(splits_group(0, 4));
    EXPECT_TRUE(splits_group(1, 4));
    EXPECT_TRUE(splits_group(3, 4));
    EXPECT_FALSE(splits_group(4, 4));
    EXPECT_FALSE(splits_group(0, 0));
}

// A placement of the tests: its name and group (empty for none).
struct Laid {
    std::string name;
    std::string group;
};

std::string names(const std::vector<Laid>& placements) {
    std::string out;
    for (const Laid& p : placements) out += p.name;
    return out;
}

TEST(GroupRule, DropsThePlacementsOfSplitGroupsOnlyKeepingTheOrder) {
    const std::vector<Laid> placements = {{"a", "G"}, {"b", ""},  {"c", "H"},
                                          {"d", "G"}, {"e", "H"}, {"f", ""}};
    const auto group_of = [](const Laid& p) { return p.group.empty() ? nullptr : &p.group; };
    const auto run = [&](std::map<std::string, int> left, std::vector<Laid>& kept) {
        std::map<std::string, int> in_box;
        return without_split_groups(
            placements, group_of, in_box, [&](const std::string& g) { return left[g]; }, kept);
    };
    std::vector<Laid> kept = {{"untouched", ""}};
    EXPECT_FALSE(run({{"G", 2}, {"H", 2}}, kept));  // both whole
    EXPECT_EQ(names(kept), "untouched");
    EXPECT_TRUE(run({{"G", 3}, {"H", 2}}, kept));  // one of G still outside
    EXPECT_EQ(names(kept), "bcef");
    EXPECT_TRUE(run({{"G", 5}, {"H", 9}}, kept));
    EXPECT_EQ(names(kept), "bf");
}

TEST(GroupRule, TalliesByGroupIndexToo) {
    // Groups by index, -1 for none, as the optimiser keeps them.
    const std::vector<int> placements = {0, -1, 1, 1, 0};
    const std::vector<int> left = {2, 3};
    const auto group_of = [](const int& g) { return g >= 0 ? &g : nullptr; };
    std::vector<int> in_box(2, 0);
    std::vector<int> kept;
    EXPECT_TRUE(without_split_groups(
        placements, group_of, in_box, [&](int g) { return left[g]; }, kept));
    EXPECT_EQ(kept, (std::vector<int>{0, -1, 0}));
    EXPECT_EQ(in_box, (std::vector<int>{2, 2}));
}

}  // namespace
}  // namespace stowvex
