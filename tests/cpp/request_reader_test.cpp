// Request reading: defaults, error types and messages, and the reading order
// that decides which error wins.
#include "interchange/request_reader.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace stowvex {
namespace {

using nlohmann::json;

// What fn throws: the library's errors name their kind in the message; the
// standard ones are tagged here so that a wrong exception type shows.
template <class Fn>
std::string failure_of(Fn&& fn) {
    try {
        fn();
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument: ") + e.what();
    } catch (const json::exception& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "no error";
}

std::string type_error(const std::string& text) {
    return "[json.exception.type_error.302] type must be " + text;
}
std::string missing_key(const std::string& key) {
    return "[json.exception.out_of_range.403] key '" + key + "' not found";
}
const std::string kItemMissing = "invalid_argument: item is missing required field 'ItemCode'";
const std::string kBoxMissing = "invalid_argument: box is missing required field 'Reference'";
const std::string kQuantityRange =
    "invalid_argument: box field 'MaximumBoxes' is outside the 32-bit integer range";

json with(json j, const char* key, json value) {
    j[key] = std::move(value);
    return j;
}
json minimal_item() { return {{"ItemCode", "A"}, {"Width", 2}, {"Length", 3}, {"Depth", 4}}; }
json minimal_box() { return {{"Reference", "B"}, {"Width", 5}, {"Length", 6}, {"Depth", 7}}; }

TEST(ItemReader, MinimalItemGetsDefaults) {
    ItemPtr item = item_from_json(minimal_item());
    EXPECT_EQ(item->to_json(), json::parse(R"({"AllowedRotation": "BestFit", "BoxGroup": null,
        "Depth": 4.0, "ItemCode": "A", "ItemReference": "A", "Length": 3.0, "Volume": 24.0,
        "Weight": 0.0, "Width": 2.0})"));
    EXPECT_EQ(box_group_of(*item), nullptr);

    json nulls = minimal_item();
    for (const char* key : {"Weight", "ItemReference", "AllowedRotation", "BoxGroup"})
        nulls[key] = nullptr;
    EXPECT_EQ(item_from_json(nulls)->to_json(), item->to_json());
    EXPECT_EQ(box_group_of(*item_from_json(with(minimal_item(), "BoxGroup", ""))), nullptr);
    // An explicit empty reference is kept, not replaced by the code.
    EXPECT_EQ(item_from_json(with(minimal_item(), "ItemReference", ""))->item_reference(), "");
}

TEST(ItemReader, ReadsEveryFieldAndIgnoresOthers) {
    ItemPtr item = item_from_json(json::parse(R"({"ItemCode": "K-1", "ItemReference": "kettle",
        "Width": 1.5, "Length": 2, "Depth": 3.25, "Weight": 0.75, "AllowedRotation": "Never",
        "BoxGroup": "kitchen", "Volume": 999, "itemcode": "ignored"})"));
    EXPECT_EQ(item->item_code(), "K-1");
    EXPECT_EQ(item->item_reference(), "kettle");
    EXPECT_EQ(item->width(), 1.5);
    EXPECT_EQ(item->length(), 2.0);
    EXPECT_EQ(item->depth(), 3.25);
    EXPECT_EQ(item->weight(), 0.75);
    EXPECT_EQ(item->allowed_rotation(), Rotation::NEVER);
    ASSERT_NE(box_group_of(*item), nullptr);
    EXPECT_EQ(*box_group_of(*item), "kitchen");
}

TEST(ItemReader, RotationTextsAndNumberForms) {
    auto rotation = [](const char* text) {
        return item_from_json(with(minimal_item(), "AllowedRotation", text))->allowed_rotation();
    };
    EXPECT_EQ(rotation("KEEP_FLAT"), Rotation::KEEP_FLAT);
    EXPECT_EQ(rotation("never"), Rotation::NEVER);
    EXPECT_EQ(rotation("sideways"), Rotation::BEST_FIT);

    for (const char* width : {"10", "10.0", "1e1", "10.000"}) {
        EXPECT_EQ(item_from_json(with(minimal_item(), "Width", json::parse(width)))->width(), 10.0);
    }
    EXPECT_EQ(item_from_json(with(minimal_item(), "Width", -3))->width(), -3.0);
    EXPECT_EQ(
        item_from_json(with(minimal_item(), "Width", json::parse("18446744073709551615")))->width(),
        18446744073709551615.0);
}

// Each case: a value given to the item reader and the failure it must give.
// Several cases carry two faults; the one read first must be reported.
TEST(ItemReader, ErrorsAndTheirOrder) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"7", kItemMissing},
        {R"("A")", kItemMissing},
        {"null", kItemMissing},
        {R"([{"ItemCode": "A"}])", kItemMissing},
        {R"({"Width": 1, "Length": 1, "Depth": 1})", kItemMissing},
        {R"({"itemCode": "A", "Width": 1, "Length": 1, "Depth": 1})", kItemMissing},
        {R"({"ItemCode": 5, "Width": 1, "Length": 1})", type_error("string, but is number")},
        {R"({"ItemCode": null, "Width": 1, "Length": 1, "Depth": 1})",
         type_error("string, but is null")},
        {R"({"ItemCode": "A", "AllowedRotation": 1, "Weight": "x"})",
         type_error("string, but is number")},
        {R"({"ItemCode": "A", "Weight": "x", "Depth": true})", type_error("number, but is string")},
        {R"({"ItemCode": "A", "Weight": true, "Depth": 1, "Length": 1, "Width": 1})",
         type_error("number, but is boolean")},
        {R"({"ItemCode": "A", "Width": 1})", missing_key("Depth")},
        {R"({"ItemCode": "A", "Length": 1})", missing_key("Depth")},
        {R"({"ItemCode": "A", "depth": 1, "Length": 1, "Width": 1})", missing_key("Depth")},
        {R"({"ItemCode": "A", "Depth": 1})", missing_key("Length")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1})", missing_key("Width")},
        {R"({"ItemCode": "A", "Depth": true, "Width": "x"})", type_error("number, but is boolean")},
        {R"({"ItemCode": "A", "Depth": null, "Length": 1, "Width": 1})",
         type_error("number, but is null")},
        {R"({"ItemCode": "A", "Depth": [1], "Length": 1, "Width": 1})",
         type_error("number, but is array")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1, "Width": "10"})",
         type_error("number, but is string")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1, "Width": true})",
         type_error("number, but is boolean")},
        {R"({"ItemCode": "A", "ItemReference": 3, "Length": 1, "Width": 1})", missing_key("Depth")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1, "Width": 1, "ItemReference": [], "BoxGroup": 1})",
         type_error("string, but is array")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1, "Width": 1, "BoxGroup": {}})",
         type_error("string, but is object")},
        {R"({"ItemCode": "A", "Depth": 1, "Length": 1, "Width": 1, "BoxGroup": false})",
         type_error("string, but is boolean")},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failure_of([&] { item_from_json(json::parse(text)); }), expected) << text;
    }
}

TEST(BoxReader, DefaultsAndEveryField) {
    json nulls = minimal_box();
    for (const char* key : {"Active", "BoxWeight", "MaxWeight", "MaximumBoxes"})
        nulls[key] = nullptr;
    for (const json& j : {minimal_box(), nulls}) {
        BoxPtr box = box_from_json(j);
        EXPECT_EQ(box->to_json(), json::parse(R"({"Active": true, "BoxWeight": 0.0, "Depth": 7.0,
            "InnerVolume": 210.0, "Length": 6.0, "MaxWeight": null, "MaximumBoxes": null,
            "Reference": "B", "Width": 5.0})"));
        EXPECT_EQ(box->max_weight(), -1.0);
        EXPECT_EQ(limited_supply_of(*box), nullptr);
    }

    BoxPtr box = box_from_json(json::parse(R"({"Reference": "M", "Width": 10, "Length": 20.5,
        "Depth": 30, "BoxWeight": 1.25, "MaxWeight": 40, "Active": false, "MaximumBoxes": 3,
        "InnerVolume": 1, "reference": "ignored"})"));
    EXPECT_EQ(box->reference(), "M");
    EXPECT_EQ(box->width(), 10.0);
    EXPECT_EQ(box->length(), 20.5);
    EXPECT_EQ(box->depth(), 30.0);
    EXPECT_EQ(box->empty_weight(), 1.25);
    EXPECT_EQ(box->max_weight(), 40.0);
    EXPECT_FALSE(box->active());
    ASSERT_NE(limited_supply_of(*box), nullptr);
    EXPECT_EQ(limited_supply_of(*box)->max_quantity(), 3);
}

TEST(BoxReader, QuantityConversions) {
    auto quantity = [](json value) {
        BoxPtr box = box_from_json(with(minimal_box(), "MaximumBoxes", std::move(value)));
        const LimitedSupplyBox* limited = limited_supply_of(*box);
        EXPECT_NE(limited, nullptr);
        return limited ? limited->max_quantity() : -999;
    };
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(quantity(2.9), 2);
    EXPECT_EQ(quantity(-2.9), -2);
    EXPECT_EQ(quantity(-0.5), 0);
    EXPECT_EQ(quantity(true), 1);
    EXPECT_EQ(quantity(false), 0);
    EXPECT_EQ(quantity(0), 0);
    EXPECT_EQ(quantity(-4), -4);
    EXPECT_EQ(quantity(json::parse("2147483647")), 2147483647);
    EXPECT_EQ(quantity(json::parse("-2147483648")), lowest);
    EXPECT_EQ(quantity(2147483647.9), 2147483647);
    EXPECT_EQ(quantity(-2147483648.9), lowest);

    // Anything that does not fit 32 bits is refused, never wrapped.
    const double inf = std::numeric_limits<double>::infinity();
    for (const json& value :
         {json::parse("2147483648"), json::parse("-2147483649"), json::parse("9223372036854775807"),
          json::parse("18446744073709551615"), json::parse("-9223372036854775808"),
          json(2147483648.0), json(-2147483649.0), json(1e300), json(inf), json(-inf),
          json(std::nan(""))}) {
        EXPECT_EQ(failure_of([&] { box_from_json(with(minimal_box(), "MaximumBoxes", value)); }),
                  kQuantityRange)
            << value.dump();
    }
}

TEST(BoxReader, ErrorsAndTheirOrder) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"3", kBoxMissing},
        {"[]", kBoxMissing},
        {"{}", kBoxMissing},
        {R"({"Width": 1, "Length": 1, "Depth": 1})", kBoxMissing},
        {R"({"Reference": "B"})", missing_key("Depth")},
        // Unlike an item's code, the reference is read after the dimensions...
        {R"({"Reference": 5, "Length": 1, "Width": 1})", missing_key("Depth")},
        {R"({"Reference": null, "Depth": 1, "Length": 1, "Width": 1})",
         type_error("string, but is null")},
        // ...and before the quantity.
        {R"({"Reference": 5, "Depth": 1, "Length": 1, "Width": 1, "MaximumBoxes": "x"})",
         type_error("string, but is number")},
        {R"({"Reference": 5, "Depth": 1, "Length": 1, "Width": 1, "MaximumBoxes": 1e20})",
         type_error("string, but is number")},
        {R"({"Reference": "B", "Depth": 1, "Length": 1, "Width": 1, "MaximumBoxes": "3"})",
         type_error("number, but is string")},
        {R"({"Reference": "B", "Depth": 1, "Length": 1, "Width": 1, "MaximumBoxes": [3]})",
         type_error("number, but is array")},
        // Active, BoxWeight and MaxWeight come first, in this order.
        {R"({"Reference": "B", "Active": 1, "BoxWeight": "x"})",
         type_error("boolean, but is number")},
        {R"({"Reference": "B", "Active": "true"})", type_error("boolean, but is string")},
        {R"({"Reference": "B", "BoxWeight": "x", "MaxWeight": true})",
         type_error("number, but is string")},
        {R"({"Reference": "B", "MaxWeight": true})", type_error("number, but is boolean")},
        {R"({"Reference": "B", "Depth": 1, "Length": true, "Width": "x"})",
         type_error("number, but is boolean")},
        {R"({"Reference": "B", "Depth": 1, "Length": 1, "Width": "10"})",
         type_error("number, but is string")},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failure_of([&] { box_from_json(json::parse(text)); }), expected) << text;
    }
}

TEST(ModelObjects, ReadBackAsEquivalentObjects) {
    BoxPtr limited = make_box("L", 1, 2, 3, 9, 1, false, 4);
    EXPECT_EQ(box_from_json(limited->to_json())->to_json(), limited->to_json());
    BoxPtr unlimited = box_from_json(make_box("U", 1, 2, 3, -5, 0, true, std::nullopt)->to_json());
    EXPECT_EQ(unlimited->max_weight(), -1.0);
    EXPECT_EQ(limited_supply_of(*unlimited), nullptr);
    ItemPtr item = make_item("I", "ref", 1, 2, 3, 4, "G", Rotation::KEEP_FLAT);
    EXPECT_EQ(item_from_json(item->to_json())->to_json(), item->to_json());
}

TEST(RequestReader, EmptyShapesGiveEmptyLists) {
    for (const char* text : {"{}", "[]", R"({"items": [], "boxes": []})", R"({"items": null})",
                             R"({"items": null, "boxes": null})", "null", "3",
                             R"({"Items": [1], "Boxes": [1], "other": 5})", " {} \n\t"}) {
        PackRequest request = parse_request(text);
        EXPECT_TRUE(request.items.empty()) << text;
        EXPECT_TRUE(request.boxes.empty()) << text;
    }
}

TEST(RequestReader, ListsInRequestOrderOrKeyOrder) {
    PackRequest request = parse_request(R"({
        "boxes": [{"Reference": "small", "Width": 1, "Length": 1, "Depth": 1},
                  {"Reference": "large", "Width": 9, "Length": 9, "Depth": 9, "MaximumBoxes": 1}],
        "items": {"b": {"ItemCode": "under-b", "Width": 1, "Length": 1, "Depth": 1},
                  "a": {"ItemCode": "under-a", "Width": 1, "Length": 1, "Depth": 1, "BoxGroup": "g"}}
    })");
    ASSERT_EQ(request.items.size(), 2u);
    ASSERT_EQ(request.boxes.size(), 2u);
    EXPECT_EQ(request.items.elements()[0]->item_code(), "under-a");
    EXPECT_NE(box_group_of(*request.items.elements()[0]), nullptr);
    EXPECT_EQ(request.items.elements()[1]->item_code(), "under-b");
    EXPECT_EQ(request.boxes.elements()[0]->reference(), "small");
    EXPECT_NE(limited_supply_of(*request.boxes.elements()[1]), nullptr);
    EXPECT_NE(dynamic_cast<const DefaultItemSorter*>(request.items.sorter().get()), nullptr);
    EXPECT_NE(dynamic_cast<const DefaultBoxSorter*>(request.boxes.sorter().get()), nullptr);
}

TEST(RequestReader, FailuresAndStrictParsing) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {R"({"items": 7})", kItemMissing},
        {R"({"items": "A"})", kItemMissing},
        {R"({"boxes": true})", kBoxMissing},
        // Items are read before boxes, whatever the member order in the text.
        {R"({"boxes": [1], "items": [1]})", kItemMissing},
        // A later bad item ends the request after a good one.
        {R"({"items": [{"ItemCode": "ok", "Width": 1, "Length": 1, "Depth": 1},
                       {"ItemCode": "bad", "Width": 1, "Length": 1}]})",
         missing_key("Depth")},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failure_of([&] { parse_request(text); }), expected) << text;
    }
    for (const char* text : {"", "{", R"({"items": []} x)", "{} // comment", "/* c */ {}",
                             R"({"items": [],})", "NaN", R"({'items': []})"}) {
        try {
            parse_request(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const json::parse_error& e) {
            EXPECT_EQ(e.id, 101) << text;
        }
    }
}

// The parser stops at a NUL byte outside a string as if the text ended there;
// the text after it must not be ignored.
TEST(RequestReader, NulByteAnywhereIsAParseError) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"items": [{"ItemCode": "A"}]})"s + "\0"s + R"(, "boxes": [{"Reference": "B"}]})"s,
         "[json.exception.parse_error.101] parse error at line 1, column 31: syntax error while "
         "parsing value - invalid literal; last read: '<U+0000>'; expected end of input"},
        {"{}\n \0"s,
         "[json.exception.parse_error.101] parse error at line 2, column 2: syntax error while "
         "parsing value - invalid literal; last read: '<U+0000>'; expected end of input"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failure_of([&] { parse_request(text); }), expected);
    }
    // Inside a value or a string the parser refuses the byte by itself.
    for (const std::string& text : {"{\"items\": \0[]}"s, "{\"items\0\": []}"s, "12\0"s}) {
        EXPECT_THROW(parse_request(text), json::parse_error);
    }
}

}  // namespace
}  // namespace stowvex
