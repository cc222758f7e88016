// Items, rotation texts and the item factory.
#include "model/item.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace stowvex {
namespace {

TEST(RotationText, ReadsNamesInAnyCase) {
    EXPECT_EQ(rotation_from_string("NEVER"), Rotation::NEVER);
    EXPECT_EQ(rotation_from_string("Never"), Rotation::NEVER);
    EXPECT_EQ(rotation_from_string("KEEP_FLAT"), Rotation::KEEP_FLAT);
    EXPECT_EQ(rotation_from_string("KeepFlat"), Rotation::KEEP_FLAT);
    EXPECT_EQ(rotation_from_string("keep_flat"), Rotation::KEEP_FLAT);
    EXPECT_EQ(rotation_from_string("KEEPFLAT"), Rotation::KEEP_FLAT);
}

TEST(RotationText, UnrecognisedTextFallsBackToBestFit) {
    for (const char* text : {"keep flat", "keep-flat", "", " Never", "Never ", "BestFit",
                             "BEST_FIT", "nev\xC3\xA9r"}) {
        EXPECT_EQ(rotation_from_string(text), Rotation::BEST_FIT) << text;
    }
}

TEST(RotationText, RoundTripsEveryValue) {
    for (Rotation r : {Rotation::NEVER, Rotation::KEEP_FLAT, Rotation::BEST_FIT}) {
        EXPECT_EQ(rotation_from_string(rotation_to_string(r)), r);
    }
    EXPECT_EQ(rotation_to_string(static_cast<Rotation>(7)), "BestFit");
    EXPECT_EQ(rotation_to_string(static_cast<Rotation>(-1)), "BestFit");
}

TEST(ItemFactory, EmptyGroupMakesPlainItem) {
    ItemPtr item = make_item("A", "", 2, 3, 4, 1, "", Rotation::KEEP_FLAT);
    EXPECT_EQ(box_group_of(*item), nullptr);
    EXPECT_EQ(dynamic_cast<LinkedItem*>(item.get()), nullptr);
    EXPECT_EQ(item->item_reference(), "");
    EXPECT_EQ(item->allowed_rotation(), Rotation::KEEP_FLAT);
    EXPECT_EQ(item->volume(), 24.0);
}

TEST(ItemFactory, GroupMakesLinkedItemWithSameFigures) {
    ItemPtr plain = make_item("A", "ref", 2, 3, 4, 1.5, "", Rotation::NEVER);
    ItemPtr linked = make_item("A", "ref", 2, 3, 4, 1.5, "G", Rotation::NEVER);
    auto* as_linked = dynamic_cast<LinkedItem*>(linked.get());
    ASSERT_NE(as_linked, nullptr);
    EXPECT_EQ(as_linked->box_group(), "G");
    EXPECT_EQ(linked->item_code(), plain->item_code());
    EXPECT_EQ(linked->item_reference(), plain->item_reference());
    EXPECT_EQ(linked->width(), plain->width());
    EXPECT_EQ(linked->length(), plain->length());
    EXPECT_EQ(linked->depth(), plain->depth());
    EXPECT_EQ(linked->weight(), plain->weight());
    EXPECT_EQ(linked->allowed_rotation(), plain->allowed_rotation());
    EXPECT_EQ(linked->volume(), plain->volume());
}

TEST(ItemFactory, LinkedItemRefusesEmptyGroup) {
    ConcreteItem base("A", "A", 1, 1, 1, 1, Rotation::BEST_FIT);
    try {
        ConcreteLinkedItem linked(base, "");
        FAIL() << "expected invalid_argument";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "ConcreteLinkedItem requires a non-empty box group");
    }
}

TEST(ItemFigures, OddValuesAreKeptUnchanged) {
    ItemPtr negative = make_item("N", "", -2, 3, 4, -1, "", Rotation::BEST_FIT);
    EXPECT_EQ(negative->width(), -2.0);
    EXPECT_EQ(negative->volume(), -24.0);
    ItemPtr nan = make_item("Q", "", std::nan(""), 3, 4, 0, "", Rotation::BEST_FIT);
    EXPECT_TRUE(std::isnan(nan->volume()));
    ItemPtr zero = make_item("Z", "", 0, 3, 4, 0, "", Rotation::BEST_FIT);
    EXPECT_EQ(zero->volume(), 0.0);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(make_item("I", "", inf, 1, 1, 0, "", Rotation::BEST_FIT)->volume(), inf);
}

TEST(ItemJson, PlainItemHasNineMembersInKeyOrderAndFloats) {
    ItemPtr item = make_item("A", "r", 10, 3, 4, 1, "", Rotation::NEVER);
    nlohmann::json j = item->to_json();
    EXPECT_EQ(j.dump(),
              R"({"AllowedRotation":"Never","BoxGroup":null,"Depth":4.0,"ItemCode":"A",)"
              R"("ItemReference":"r","Length":3.0,"Volume":120.0,"Weight":1.0,"Width":10.0})");
    EXPECT_TRUE(j["Width"].is_number_float());
}

TEST(ItemJson, LinkedItemCarriesItsGroup) {
    nlohmann::json j = make_item("A", "A", 2, 3, 4, 1, "G", Rotation::KEEP_FLAT)->to_json();
    EXPECT_EQ(j.size(), 9u);
    EXPECT_EQ(j["BoxGroup"], "G");
    EXPECT_EQ(j["AllowedRotation"], "KeepFlat");
    EXPECT_EQ(j["Volume"], 24.0);
}

}  // namespace
}  // namespace stowvex
