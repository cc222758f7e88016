// Result writing: shapes, member order, number kinds and the text forms of
// placements, packed boxes and responses built by hand.
#include "interchange/result_writer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace stowvex {
namespace {

using nlohmann::json;

std::vector<std::string> keys_of(const json& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.items()) keys.push_back(member.key());
    return keys;
}

PackedBoxList packed_boxes() { return PackedBoxList(std::make_shared<DefaultPackedBoxSorter>()); }
ItemList items() { return ItemList(std::make_shared<DefaultItemSorter>()); }

ItemPtr cube(const std::string& code, double side, double weight = 1.0) {
    return make_item(code, code, side, side, side, weight, "", Rotation::BEST_FIT);
}

// A box holding `count` unit cubes in a row along x.
PackedBox row_box(const std::string& reference, int count, double side = 10.0) {
    PackedBox box(make_box(reference, side, side, side, -1, 0, true, std::nullopt));
    for (int i = 0; i < count; ++i) {
        box.add(PackedItem(cube(reference + "-" + std::to_string(i), 1), 1, 1, 1, "WLD", i, 0, 0));
    }
    return box;
}

const std::vector<std::string> kPlacementKeys = {"ItemCode",
                                                 "ItemReference",
                                                 "box_group",
                                                 "depth",
                                                 "length",
                                                 "orientation",
                                                 "original_depth",
                                                 "original_length",
                                                 "original_width",
                                                 "rotated",
                                                 "weight",
                                                 "width",
                                                 "x",
                                                 "y",
                                                 "z"};

TEST(PlacementJson, MembersValuesAndOrder) {
    ItemPtr item = make_item("C", "cup", 1, 2, 3, 0.5, "", Rotation::BEST_FIT);
    json j = to_json(PackedItem(item, 2, 1, 3, "LWD", 4, 5, 6));
    EXPECT_EQ(keys_of(j), kPlacementKeys);
    EXPECT_EQ(j, json::parse(R"({"ItemCode": "C", "ItemReference": "cup", "box_group": null,
        "width": 2, "length": 1, "depth": 3, "original_width": 1, "original_length": 2,
        "original_depth": 3, "orientation": "LWD", "rotated": true, "weight": 0.5,
        "x": 4, "y": 5, "z": 6})"));
    for (const char* key : {"width", "x", "original_depth", "weight"}) {
        EXPECT_TRUE(j[key].is_number_float()) << key;
    }
}

TEST(PlacementJson, GroupAndUnrotatedPlacement) {
    ItemPtr item = make_item("G", "G", 3, 3, 3, 0, "pallet-1", Rotation::NEVER);
    json j = to_json(PackedItem(item, 3, 3, 3, "WLD", 0, 0, 0));
    EXPECT_EQ(j["box_group"], "pallet-1");
    EXPECT_EQ(j["rotated"], false);
    // A cube turned to another label is rotated although its extents match.
    EXPECT_EQ(to_json(PackedItem(item, 3, 3, 3, "DLW", 0, 0, 0))["rotated"], true);
}

TEST(PackedBoxJson, FiguresAndMemberOrder) {
    PackedBox box(make_box("M", 10, 10, 10, 20, 2, true, std::nullopt));
    box.add(PackedItem(cube("a", 2, 5), 2, 5, 10, "WLD", 0, 0, 0));
    box.add(PackedItem(cube("b", 2, 4), 3, 2, 1, "WLD", 6, 1, 2));
    json j = to_json(box);
    EXPECT_EQ(keys_of(j), (std::vector<std::string>{"box_reference",
                                                    "depth",
                                                    "empty_weight",
                                                    "inner_volume",
                                                    "item_count",
                                                    "item_weight",
                                                    "items",
                                                    "length",
                                                    "max_weight",
                                                    "remaining_depth",
                                                    "remaining_length",
                                                    "remaining_weight",
                                                    "remaining_width",
                                                    "unused_volume",
                                                    "used_depth",
                                                    "used_length",
                                                    "used_volume",
                                                    "used_width",
                                                    "volume_utilisation",
                                                    "weight",
                                                    "width"}));
    EXPECT_EQ(j["box_reference"], "M");
    EXPECT_EQ(j["inner_volume"], 1000.0);
    EXPECT_EQ(j["item_count"], 2);
    EXPECT_TRUE(j["item_count"].is_number_integer());
    EXPECT_EQ(j["item_weight"], 9.0);
    EXPECT_EQ(j["weight"], 11.0);
    EXPECT_EQ(j["max_weight"], 20.0);
    EXPECT_EQ(j["remaining_weight"], 9.0);
    EXPECT_EQ(j["used_volume"], 106.0);
    EXPECT_EQ(j["unused_volume"], 894.0);
    EXPECT_EQ(j["volume_utilisation"], 106.0 / 1000.0 * 100.0);
    EXPECT_EQ(j["used_width"], 9.0);
    EXPECT_EQ(j["used_length"], 5.0);
    EXPECT_EQ(j["used_depth"], 10.0);
    EXPECT_EQ(j["remaining_width"], 1.0);
    EXPECT_EQ(j["remaining_length"], 5.0);
    EXPECT_EQ(j["remaining_depth"], 0.0);
    ASSERT_EQ(j["items"].size(), 2u);
    EXPECT_EQ(j["items"][0]["ItemCode"], "a");
    EXPECT_EQ(j["items"][1]["ItemCode"], "b");
    EXPECT_EQ(keys_of(j["items"][0]), kPlacementKeys);
    EXPECT_FALSE(j.contains("box_index"));
}

TEST(PackedBoxJson, WeightLimitFigures) {
    PackedBox unlimited(make_box("U", 1, 1, 1, -1, 3, true, std::nullopt));
    unlimited.add(PackedItem(cube("h", 1, 100), 1, 1, 1, "WLD", 0, 0, 0));
    json j = to_json(unlimited);
    EXPECT_TRUE(j["max_weight"].is_null());
    EXPECT_TRUE(j["remaining_weight"].is_null());
    EXPECT_EQ(unlimited.remaining_weight(), -1.0);

    // Overweight contents clamp to 0.0 rather than reading as "no limit".
    PackedBox full(make_box("F", 1, 1, 1, 10, 2, true, std::nullopt));
    full.add(PackedItem(cube("x", 1, 9), 1, 1, 1, "WLD", 0, 0, 0));
    json k = to_json(full);
    EXPECT_EQ(k["remaining_weight"], 0.0);
    EXPECT_TRUE(k["remaining_weight"].is_number_float());
    EXPECT_EQ(k["max_weight"], 10.0);

    // A limit of 0 is still a limit.
    json zero = to_json(PackedBox(make_box("Z", 1, 1, 1, 0, 0, true, std::nullopt)));
    EXPECT_EQ(zero["max_weight"], 0.0);
    EXPECT_EQ(zero["remaining_weight"], 0.0);
}

TEST(PackedBoxJson, DegenerateBoxes) {
    json flat = to_json(PackedBox(make_box("flat", 10, 10, 0, -1, 0, true, std::nullopt)));
    EXPECT_EQ(flat["volume_utilisation"], 0.0);
    EXPECT_EQ(flat["item_count"], 0);
    EXPECT_EQ(flat["items"], json::array());
    EXPECT_EQ(flat["used_width"], 0.0);
    EXPECT_EQ(flat["remaining_width"], 10.0);

    // Non-finite figures survive as values and are written as null.
    PackedBox odd(
        make_box("odd", std::numeric_limits<double>::infinity(), 1, 1, -1, 0, true, std::nullopt));
    odd.add(PackedItem(cube("n", 1), 1, 1, 1, "WLD", std::nan(""), 0, 0));
    PackedBoxList boxes = packed_boxes();
    boxes.add(odd);
    const std::string text = to_json_text(PackResponse(true, std::move(boxes), items()), -1);
    EXPECT_NE(text.find(R"("width":null)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("x":null)"), std::string::npos) << text;
}

TEST(ResponseJson, EmptyResponseText) {
    PackResponse response(true, packed_boxes(), items());
    EXPECT_EQ(to_json_text(response, -1),
              R"({"boxes":[],"placements":[],"success":true,"summary":{"box_count":0,)"
              R"("overall_volume_utilisation":0.0,"total_placed":0,"total_unplaced":0},)"
              R"("unplaced_item_codes":[],"unplaced_items":[]})");
    EXPECT_EQ(to_json_text(response, -5), to_json_text(response, -1));
    EXPECT_EQ(to_json_text(response, 0),
              "{\n\"boxes\": [],\n\"placements\": [],\n\"success\": true,\n\"summary\": {\n"
              "\"box_count\": 0,\n\"overall_volume_utilisation\": 0.0,\n\"total_placed\": 0,\n"
              "\"total_unplaced\": 0\n},\n\"unplaced_item_codes\": [],\n\"unplaced_items\": []\n}");
    EXPECT_EQ(to_json_text(response, 2).substr(0, 16), "{\n  \"boxes\": [],");
}

TEST(ResponseJson, BoxesAndPlacementsFollowTheSortedBoxOrder) {
    PackedBoxList boxes = packed_boxes();
    boxes.add(row_box("two", 2));  // fewer items: sorts second
    boxes.add(row_box("three", 3));
    json j = to_json(PackResponse(true, std::move(boxes), items()));

    ASSERT_EQ(j["boxes"].size(), 2u);
    EXPECT_EQ(j["boxes"][0]["box_reference"], "three");
    EXPECT_EQ(j["boxes"][0]["box_index"], 0);
    EXPECT_EQ(j["boxes"][1]["box_reference"], "two");
    EXPECT_EQ(j["boxes"][1]["box_index"], 1);
    EXPECT_TRUE(j["boxes"][1]["box_index"].is_number_integer());
    // box_index is added to the box object, and the box's own items stay bare.
    EXPECT_EQ(j["boxes"][0].size(), 22u);
    EXPECT_FALSE(j["boxes"][0]["items"][0].contains("box_index"));

    const std::vector<std::string> codes = {"three-0", "three-1", "three-2", "two-0", "two-1"};
    const std::vector<int> indices = {0, 0, 0, 1, 1};
    ASSERT_EQ(j["placements"].size(), codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const json& placement = j["placements"][i];
        EXPECT_EQ(placement["ItemCode"], codes[i]);
        EXPECT_EQ(placement["box_index"], indices[i]);
        EXPECT_EQ(placement["box_reference"], indices[i] == 0 ? "three" : "two");
    }
    EXPECT_EQ(keys_of(j["placements"][0]),
              (std::vector<std::string>{"ItemCode", "ItemReference", "box_group", "box_index",
                                        "box_reference", "depth", "length", "orientation",
                                        "original_depth", "original_length", "original_width",
                                        "rotated", "weight", "width", "x", "y", "z"}));

    EXPECT_EQ(j["summary"], json::parse(R"({"box_count": 2, "total_placed": 5,
        "total_unplaced": 0, "overall_volume_utilisation": 0.25})"));
}

TEST(ResponseJson, UnplacedItemsInItemOrder) {
    ItemList unplaced = items();
    unplaced.add(cube("small", 1));
    unplaced.add(cube("large", 3));
    unplaced.add(make_item("grouped", "g-ref", 1, 1, 1, 0, "G", Rotation::NEVER));
    unplaced.add(cube("small", 1));  // one entry per unplaced copy
    json j = to_json(PackResponse(false, packed_boxes(), std::move(unplaced)));
    EXPECT_EQ(j["success"], false);
    EXPECT_EQ(j["unplaced_item_codes"], json::array({"grouped", "large", "small", "small"}));
    ASSERT_EQ(j["unplaced_items"].size(), 4u);
    EXPECT_EQ(j["unplaced_items"][0],
              make_item("grouped", "g-ref", 1, 1, 1, 0, "G", Rotation::NEVER)->to_json());
    EXPECT_EQ(j["unplaced_items"][1]["Volume"], 27.0);
    EXPECT_EQ(j["summary"]["total_unplaced"], 4);
    EXPECT_EQ(j["summary"]["box_count"], 0);
    EXPECT_EQ(j["summary"]["overall_volume_utilisation"], 0.0);
}

TEST(ResponseJson, OverallUtilisationIsARatioOfSums) {
    PackedBox small(make_box("s", 100, 1, 1, -1, 0, true, std::nullopt));
    small.add(PackedItem(cube("a", 1), 100, 1, 1, "WLD", 0, 0, 0));
    PackedBox large(make_box("l", 900, 1, 1, -1, 0, true, std::nullopt));
    large.add(PackedItem(cube("b", 1), 100, 1, 1, "WLD", 0, 0, 0));
    PackedBoxList boxes = packed_boxes();
    boxes.add(large);
    boxes.add(small);
    json j = to_json(PackResponse(true, std::move(boxes), items()));
    EXPECT_EQ(j["summary"]["overall_volume_utilisation"], 20.0);
    EXPECT_EQ(j["boxes"][0]["box_reference"], "s");
}

TEST(ResponseText, NumberKindsAndRawUnicode) {
    PackedBoxList boxes = packed_boxes();
    PackedBox box(make_box("Kiste \xC3\xA4", 30, 30, 30, -1, 0, true, std::nullopt));
    box.add(PackedItem(make_item("\xE7\xAE\xB1", "\"q\"\\", 30, 30, 30, 1, "", Rotation::NEVER), 30,
                       30, 30, "WLD", 0, 0, 0));
    boxes.add(box);
    const std::string text = to_json_text(PackResponse(true, std::move(boxes), items()), -1);
    // The only blanks are the two copies of the one inside the box reference.
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 2) << text;
    EXPECT_NE(text.find(R"("width":30.0)"), std::string::npos);
    EXPECT_NE(text.find(R"("box_index":0,)"), std::string::npos);
    EXPECT_NE(text.find(R"("item_count":1,)"), std::string::npos);
    EXPECT_NE(text.find(R"("total_placed":1,)"), std::string::npos);
    EXPECT_NE(text.find(R"("box_count":1,)"), std::string::npos);
    EXPECT_NE(text.find(R"("total_unplaced":0})"), std::string::npos);
    EXPECT_NE(text.find(R"("overall_volume_utilisation":100.0)"), std::string::npos);
    EXPECT_NE(text.find("\"ItemCode\":\"\xE7\xAE\xB1\""), std::string::npos);
    EXPECT_NE(text.find("\"box_reference\":\"Kiste \xC3\xA4\""), std::string::npos);
    EXPECT_NE(text.find(R"("ItemReference":"\"q\"\\")"), std::string::npos);
    EXPECT_EQ(text.find("\\u"), std::string::npos);
    EXPECT_EQ(json::parse(text)["placements"][0]["ItemReference"], "\"q\"\\");
}

TEST(ResponseText, InvalidUtf8Throws) {
    ItemList unplaced = items();
    unplaced.add(cube("bad\xFF", 1));
    PackResponse response(false, packed_boxes(), std::move(unplaced));
    EXPECT_NO_THROW(to_json(response));
    try {
        to_json_text(response, -1);
        FAIL() << "expected a type_error";
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 316);
        EXPECT_EQ(std::string(e.what()).rfind("[json.exception.type_error.316] ", 0), 0u)
            << e.what();
    }
}

// A response whose texts need escaping, with measures of every kind.
PackResponse odd_response(const std::string& code) {
    const double inf = std::numeric_limits<double>::infinity();
    PackedBox box(make_box("B \" \\ /", 10, 1e-7, 0.1 + 0.2, 5, -0.0, true, std::nullopt));
    box.add(PackedItem(make_item(code, " x\n y ", 1, 2, 3, 1e300, "G\t", Rotation::NEVER), 1, 2, 3,
                       "WLD", -0.0, 1e22, 123456789012345680.0));
    box.add(PackedItem(cube("nan", 1, std::nan("")), inf, 1, 1, "DLW", 5e-324, 0.5, 2));
    PackedBoxList boxes = packed_boxes();
    boxes.add(box);
    boxes.add(row_box("row", 2));
    ItemList unplaced = items();
    unplaced.add(make_item("un\x01placed", "", 4, 4, 4, 2, "", Rotation::KEEP_FLAT));
    return PackResponse(false, std::move(boxes), std::move(unplaced));
}

// The text is written directly, not by the library; it must be the
// library's text of the response's value, byte for byte, and fail as the
// library fails.
TEST(ResponseText, WrittenDirectlyAsTheLibraryWritesTheValue) {
    const std::vector<std::string> codes = {"plain",
                                            "ctl \x01\x1f\x7f \b\f\n\r\t",
                                            "two \xC3\xA4 three \xE2\x82\xAC four \xF0\x9F\x99\x82",
                                            "",
                                            "bad \xFF",
                                            "overlong \xC0\x80",
                                            "surrogate \xED\xA0\x80",
                                            "too high \xF4\x90\x80\x80",
                                            "cut \xE2\x82",
                                            "lone \x80"};
    for (const std::string& code : codes) {
        const PackResponse response = odd_response(code);
        for (const int indent : {-1, 0, 1, 2, 3, 4, 8, 100}) {
            std::string expected, got;
            try {
                expected =
                    to_json(response).dump(indent, ' ', false, json::error_handler_t::strict);
            } catch (const json::exception& e) {
                expected = std::string("throws ") + e.what();
            }
            try {
                got = to_json_text(response, indent);
            } catch (const json::exception& e) {
                got = std::string("throws ") + e.what();
            }
            EXPECT_EQ(got, expected) << "indent " << indent << " code " << code;
        }
    }
}

// Indents of any size give the library's layout; the library's own writer
// reads past its indentation buffer above 1024 blanks, so larger indents are
// compared with a narrow text widened line by line.
TEST(ResponseText, AnyIndentGivesTheLibrarysLayout) {
    const PackResponse response = odd_response("code");
    const std::string narrow = to_json(response).dump(1, ' ', false, json::error_handler_t::strict);
    for (const int n : {513, 1024, 1025, 4000, 100000}) {
        std::string widened;
        bool line_start = true;
        for (const char c : narrow) {
            if (line_start && c == ' ') {
                widened.append(static_cast<std::size_t>(n), ' ');
            } else {
                widened += c;
                line_start = c == '\n';
            }
        }
        EXPECT_EQ(to_json_text(response, n), widened) << "indent " << n;
        if (n <= 1024) {
            EXPECT_EQ(to_json_text(response, n),
                      to_json(response).dump(n, ' ', false, json::error_handler_t::strict));
        }
    }
}

// Numbers are written by a path of their own where they hold whole numbers
// and through a cache of formatted texts otherwise; either way every byte is
// the library's. Many values, each written several times, in boxes of all
// sizes so that the text outgrows the room reserved for it.
TEST(ResponseText, NumbersAreWrittenAsTheLibraryWritesThem) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  -0.5,
                                  1e15,
                                  -1e15,
                                  1e15 - 1,
                                  1 - 1e15,
                                  1e15 - 0.5,
                                  999999999999999.9,
                                  1e16,
                                  9007199254740992.0,
                                  9007199254740993.0,
                                  4503599627370496.5,
                                  1e-5,
                                  1e-4,
                                  123456.789,
                                  std::nextafter(1.0, 0.0),
                                  std::nextafter(1.0, 2.0),
                                  5e-324,
                                  1.7976931348623157e308,
                                  -2.5e-300};
    for (int n = -3000; n <= 3000; ++n) values.push_back(n);
    for (int e = 0; e <= 60; ++e) {
        const double power = std::ldexp(1.0, e);
        for (const double v : {power, power - 1, power + 1, -power, power / 3}) values.push_back(v);
    }
    double ten = 1;
    for (int e = 0; e <= 16; ++e, ten *= 10) {
        for (const double v : {ten, ten - 1, ten + 1, ten * 7 / 8, -ten, ten / 1000}) {
            values.push_back(v);
        }
    }
    std::uint64_t state = 12345;
    for (int k = 0; k < 20000; ++k) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double whole = static_cast<double>(state >> (14 + k % 40));
        values.push_back(k % 3 == 0 ? whole : k % 3 == 1 ? -whole : whole / 64);
    }
    for (const std::size_t per_box : {1u, 7u, 300u}) {
        PackedBoxList boxes = packed_boxes();
        for (std::size_t first = 0; first < values.size(); first += per_box) {
            PackedBox box(make_box("B" + std::to_string(first), values[first], 1, 1, -1, 0, true,
                                   std::nullopt));
            for (std::size_t k = first; k < std::min(first + per_box, values.size()); ++k) {
                const double v = values[k];
                const double w = values[(k * 7 + 3) % values.size()];
                box.add(PackedItem(make_item("i", "i", w, v, 1, v, "", Rotation::BEST_FIT), v, w,
                                   -v, "WLD", w, v, -w));
            }
            boxes.add(box);
        }
        const PackResponse response(true, std::move(boxes), items());
        EXPECT_EQ(to_json_text(response, -1), to_json(response).dump(-1)) << per_box;
        if (per_box == 300) {
            EXPECT_EQ(to_json_text(response, 2), to_json(response).dump(2));
        }
    }
}

TEST(ResponseText, IndentTooLargeForAnyTextIsRefused) {
    PackResponse response(true, packed_boxes(), items());
    try {
        to_json_text(response, std::numeric_limits<int>::max());
        FAIL() << "expected a length_error";
    } catch (const std::length_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "indent 2147483647 would make the JSON text longer than 1 GiB");
    }
    // 15 lines of the empty response are indented, by 1 to 2 levels.
    EXPECT_EQ(to_json_text(response, 1000000).size(),
              to_json(response).dump(1).size() + 999999 * (6 + 2 * 4 + 1));
}

}  // namespace
}  // namespace stowvex
