// Box types: weight budgets, inner volume, the factory and the JSON form.
#include "model/box.hpp"

#include <cmath>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace stowvex {
namespace {

BoxPtr box_with_weights(double max_weight, double empty_weight) {
    return make_box("B", 2, 3, 4, max_weight, empty_weight, true, std::nullopt);
}

TEST(BoxWeightBudget, NegativeMaxWeightMeansNoLimit) {
    for (double max_weight : {-1.0, -0.5, -1e300}) {
        BoxPtr box = box_with_weights(max_weight, 3);
        EXPECT_FALSE(box->has_weight_limit());
        EXPECT_EQ(box->max_item_weight(), -1.0);
        EXPECT_TRUE(box->to_json()["MaxWeight"].is_null());
    }
    EXPECT_FALSE(box_with_weights(std::nan(""), 0)->has_weight_limit());
}

TEST(BoxWeightBudget, IsMaxLessEmptyButNeverNegative) {
    EXPECT_EQ(box_with_weights(0, 0)->max_item_weight(), 0.0);
    EXPECT_TRUE(box_with_weights(0, 0)->has_weight_limit());
    EXPECT_EQ(box_with_weights(10, 12)->max_item_weight(), 0.0);
    EXPECT_EQ(box_with_weights(10, 2.5)->max_item_weight(), 7.5);
    EXPECT_EQ(box_with_weights(10, std::nan(""))->max_item_weight(), 0.0);
    EXPECT_EQ(box_with_weights(10, -5)->max_item_weight(), 15.0);
}

TEST(BoxFactory, QuantityMakesLimitedSupplyBoxThatForwardsEverything) {
    BoxPtr plain = make_box("B", 2, 3, 4, 9, 1, false, std::nullopt);
    BoxPtr limited = make_box("B", 2, 3, 4, 9, 1, false, 0);
    EXPECT_EQ(limited_supply_of(*plain), nullptr);
    const LimitedSupplyBox* supply = limited_supply_of(*limited);
    ASSERT_NE(supply, nullptr);
    EXPECT_EQ(supply->max_quantity(), 0);
    EXPECT_EQ(limited->reference(), plain->reference());
    EXPECT_EQ(limited->width(), plain->width());
    EXPECT_EQ(limited->length(), plain->length());
    EXPECT_EQ(limited->depth(), plain->depth());
    EXPECT_EQ(limited->empty_weight(), plain->empty_weight());
    EXPECT_EQ(limited->max_weight(), plain->max_weight());
    EXPECT_EQ(limited->active(), plain->active());
    EXPECT_EQ(limited->max_item_weight(), 8.0);
    EXPECT_EQ(make_box("N", 1, 1, 1, -1, 0, true, -3)->to_json()["MaximumBoxes"], -3);
}

TEST(BoxJson, MembersInKeyOrderWithFloatMeasures) {
    EXPECT_EQ(make_box("B", 2, 3, 4, -1, 0, true, std::nullopt)->to_json().dump(),
              R"({"Active":true,"BoxWeight":0.0,"Depth":4.0,"InnerVolume":24.0,"Length":3.0,)"
              R"("MaxWeight":null,"MaximumBoxes":null,"Reference":"B","Width":2.0})");
    nlohmann::json limited = make_box("L", 2, 3, 4, 20, 1.5, false, 7)->to_json();
    EXPECT_EQ(limited["MaxWeight"], 20.0);
    EXPECT_TRUE(limited["MaxWeight"].is_number_float());
    EXPECT_TRUE(limited["MaximumBoxes"].is_number_integer());
    EXPECT_EQ(limited["MaximumBoxes"], 7);
    EXPECT_EQ(limited["Active"], false);
}

TEST(BoxFigures, ZeroAndNegativeDimensionsAreKept) {
    EXPECT_EQ(make_box("Z", 0, 3, 4, -1, 0, true, std::nullopt)->inner_volume(), 0.0);
    EXPECT_EQ(make_box("N", -2, 3, 4, -1, 0, true, std::nullopt)->inner_volume(), -24.0);
}

}  // namespace
}  // namespace stowvex
