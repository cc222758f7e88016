// Request reading. The order of the reads below is part of the contract: the
// first failing read decides which error the caller sees.
#include "interchange/request_reader.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

namespace stowvex {

namespace {

using nlohmann::json;

// Any JSON number, converted to double; anything else, booleans included,
// throws the library's type_error 302. The conversion to double refuses
// booleans by itself, but the library's conversions to other arithmetic types
// take them, so the test is made here rather than left to the target type.
double number_of(const json& member) {
    if (!member.is_number()) {
        throw json::type_error::create(
            302, "type must be number, but is " + std::string(member.type_name()), &member);
    }
    return member.get<double>();
}

// Required members go through checked access: a missing key throws the
// library's out_of_range 403, a member of the wrong type its type_error 302.
double required_number(const json& object, const char* key) {
    return number_of(object.at(key));
}

std::string required_text(const json& object, const char* key) {
    return object.at(key).get<std::string>();
}

// Optional members: absent or null gives the default.
const json* present_member(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::string text_or_default(const json& object, const char* key, std::string fallback) {
    const json* member = present_member(object, key);
    return member ? member->get<std::string>() : std::move(fallback);
}

double number_or_default(const json& object, const char* key, double fallback) {
    const json* member = present_member(object, key);
    return member ? number_of(*member) : fallback;
}

[[noreturn]] void quantity_out_of_range() {
    throw std::invalid_argument("box field 'MaximumBoxes' is outside the 32-bit integer range");
}

// "MaximumBoxes": booleans count as 1 and 0, floats are truncated toward
// zero. Values that do not fit a 32-bit signed integer (NaN and infinities
// included) are refused rather than wrapped.
std::int32_t quantity_of(const json& member) {
    constexpr auto lowest = std::numeric_limits<std::int32_t>::min();
    constexpr auto highest = std::numeric_limits<std::int32_t>::max();
    switch (member.type()) {
        case json::value_t::boolean:
            return member.get<bool>() ? 1 : 0;
        case json::value_t::number_integer: {
            const auto value = member.get<std::int64_t>();
            if (value < lowest || value > highest) quantity_out_of_range();
            return static_cast<std::int32_t>(value);
        }
        case json::value_t::number_unsigned: {
            const auto value = member.get<std::uint64_t>();
            if (value > static_cast<std::uint64_t>(highest)) quantity_out_of_range();
            return static_cast<std::int32_t>(value);
        }
        case json::value_t::number_float: {
            // Both bounds are exact doubles; everything strictly between them
            // truncates into range. NaN fails both comparisons.
            const double value = member.get<double>();
            if (!(value > -2147483649.0 && value < 2147483648.0)) quantity_out_of_range();
            return static_cast<std::int32_t>(value);
        }
        default:
            throw json::type_error::create(
                302, "type must be number, but is " + std::string(member.type_name()), &member);
    }
}

// The parser takes a NUL byte outside a string for the end of the text, so
// whatever follows it would be ignored. No JSON text holds a raw NUL: inside
// a string the parser refuses it by itself, and anywhere else it is refused
// here, with the error the parser gives for any other stray byte.
[[noreturn]] void refuse_stray_nul(const std::string& text, std::size_t nul) {
    nlohmann::detail::position_t position;
    for (std::size_t i = 0; i <= nul; ++i) {
        ++position.chars_read_total;
        ++position.chars_read_current_line;
        if (text[i] == '\n') {
            ++position.lines_read;
            position.chars_read_current_line = 0;
        }
    }
    throw json::parse_error::create(
        101, position,
        "syntax error while parsing value - invalid literal; last read: '<U+0000>'; "
        "expected end of input",
        nullptr);
}

}  // namespace

ItemPtr item_from_json(const json& value) {
    if (!value.is_object() || !value.contains("ItemCode")) {
        throw std::invalid_argument("item is missing required field 'ItemCode'");
    }
    std::string item_code = required_text(value, "ItemCode");
    const Rotation rotation =
        rotation_from_string(text_or_default(value, "AllowedRotation", "BestFit"));
    const double weight = number_or_default(value, "Weight", 0.0);
    const double depth = required_number(value, "Depth");
    const double length = required_number(value, "Length");
    const double width = required_number(value, "Width");
    std::string item_reference = text_or_default(value, "ItemReference", item_code);
    std::string box_group = text_or_default(value, "BoxGroup", "");
    return make_item(std::move(item_code), std::move(item_reference), width, length, depth, weight,
                     std::move(box_group), rotation);
}

BoxPtr box_from_json(const json& value) {
    if (!value.is_object() || !value.contains("Reference")) {
        throw std::invalid_argument("box is missing required field 'Reference'");
    }
    const json* active_member = present_member(value, "Active");
    const bool active = active_member ? active_member->get<bool>() : true;
    const double empty_weight = number_or_default(value, "BoxWeight", 0.0);
    const double max_weight = number_or_default(value, "MaxWeight", -1.0);
    const double depth = required_number(value, "Depth");
    const double length = required_number(value, "Length");
    const double width = required_number(value, "Width");
    std::string reference = required_text(value, "Reference");
    std::optional<std::int32_t> quantity;
    if (const json* member = present_member(value, "MaximumBoxes")) quantity = quantity_of(*member);
    return make_box(std::move(reference), width, length, depth, max_weight, empty_weight, active,
                    quantity);
}

// The library's own iteration already has the wanted shape: arrays give their
// elements, objects their values in key order, null nothing, scalars themselves.
void read_items(const json& elements, ItemList& items) {
    for (const json& element : elements) items.add(item_from_json(element));
}

void read_boxes(const json& elements, BoxList& boxes) {
    for (const json& element : elements) boxes.add(box_from_json(element));
}

PackRequest request_from_json(const json& value) {
    PackRequest request;
    if (value.is_object()) {
        if (const auto items = value.find("items"); items != value.end()) {
            read_items(*items, request.items);
        }
        if (const auto boxes = value.find("boxes"); boxes != value.end()) {
            read_boxes(*boxes, request.boxes);
        }
    }
    return request;
}

PackRequest parse_request(const std::string& text) {
    const json value = json::parse(text, nullptr, /*allow_exceptions=*/true,
                                   /*ignore_comments=*/false);
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
        refuse_stray_nul(text, nul);
    }
    return request_from_json(value);
}

}  // namespace stowvex
