// Request reading. The order of the reads below is part of the contract: the
// first failing read decides which error the caller sees.
#include "interchange/request_reader.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

#include "engine/packing_control.hpp"
#include "interchange/plain_request_scanner.hpp"
#include "interchange/request_fields.hpp"

namespace stowvex {

namespace {

using nlohmann::json;

// A member the readers use: its key, and its place among the fields
// collected for its kind of object.
struct Member {
    const char* key;
    std::size_t field;
};

constexpr Member kItemCode{"ItemCode", 0};
constexpr Member kAllowedRotation{"AllowedRotation", 1};
constexpr Member kWeight{"Weight", 2};
constexpr Member kItemDepth{"Depth", 3};
constexpr Member kItemLength{"Length", 4};
constexpr Member kItemWidth{"Width", 5};
constexpr Member kItemReference{"ItemReference", 6};
constexpr Member kBoxGroup{"BoxGroup", 7};
constexpr Member kReference{"Reference", 0};
constexpr Member kActive{"Active", 1};
constexpr Member kBoxWeight{"BoxWeight", 2};
constexpr Member kMaxWeight{"MaxWeight", 3};
constexpr Member kBoxDepth{"Depth", 4};
constexpr Member kBoxLength{"Length", 5};
constexpr Member kBoxWidth{"Width", 6};
constexpr Member kMaximumBoxes{"MaximumBoxes", 7};

constexpr bool same_text(const char* a, const char* b) {
    return *a == *b && (*a == '\0' || same_text(a + 1, b + 1));
}
constexpr bool in_place(const Member& m, const std::array<const char*, 8>& names) {
    return same_text(m.key, names[m.field]);
}
static_assert(in_place(kItemCode, kItemMembers) && in_place(kAllowedRotation, kItemMembers) &&
              in_place(kWeight, kItemMembers) && in_place(kItemDepth, kItemMembers) &&
              in_place(kItemLength, kItemMembers) && in_place(kItemWidth, kItemMembers) &&
              in_place(kItemReference, kItemMembers) && in_place(kBoxGroup, kItemMembers));
static_assert(in_place(kReference, kBoxMembers) && in_place(kActive, kBoxMembers) &&
              in_place(kBoxWeight, kBoxMembers) && in_place(kMaxWeight, kBoxMembers) &&
              in_place(kBoxDepth, kBoxMembers) && in_place(kBoxLength, kBoxMembers) &&
              in_place(kBoxWidth, kBoxMembers) && in_place(kMaximumBoxes, kBoxMembers));

// An object as the readers see it: a parsed JSON value, or the fields
// collected from a request text. at() is the library's checked member
// access, with its out_of_range 403 for a missing key.
class JsonObject {
public:
    explicit JsonObject(const json& value) : value_(value) {}
    bool is_object() const { return value_.is_object(); }
    const json* find(const Member& m) const {
        const auto found = value_.find(m.key);
        return found == value_.end() ? nullptr : &*found;
    }
    const json& at(const Member& m) const { return value_.at(m.key); }

private:
    const json& value_;
};

class FieldsObject {
public:
    explicit FieldsObject(const ObjectFields& fields) : fields_(fields) {}
    bool is_object() const { return true; }
    const json* find(const Member& m) const {
        return (fields_.present >> m.field & 1u) != 0 ? &fields_.members[m.field] : nullptr;
    }
    const json& at(const Member& m) const {
        if (const json* member = find(m)) return *member;
        throw json::out_of_range::create(403, std::string("key '") + m.key + "' not found",
                                         nullptr);
    }

private:
    const ObjectFields& fields_;
};

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
template <class Object>
double required_number(const Object& object, const Member& m) {
    return number_of(object.at(m));
}

template <class Object>
std::string required_text(const Object& object, const Member& m) {
    return object.at(m).template get<std::string>();
}

// Optional members: absent or null gives the default.
template <class Object>
const json* present_member(const Object& object, const Member& m) {
    const json* found = object.find(m);
    return found == nullptr || found->is_null() ? nullptr : found;
}

template <class Object>
std::string text_or_default(const Object& object, const Member& m, std::string fallback) {
    const json* member = present_member(object, m);
    return member ? member->get<std::string>() : std::move(fallback);
}

template <class Object>
double number_or_default(const Object& object, const Member& m, double fallback) {
    const json* member = present_member(object, m);
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
        case json::value_t::boolean: return member.get<bool>() ? 1 : 0;
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

template <class Object>
ItemPtr read_item(const Object& value) {
    if (!value.is_object() || value.find(kItemCode) == nullptr) {
        throw std::invalid_argument("item is missing required field 'ItemCode'");
    }
    std::string item_code = required_text(value, kItemCode);
    // Without a rotation text an item rotates freely, as the text "BestFit" says.
    const json* rotation_text = present_member(value, kAllowedRotation);
    const Rotation rotation = rotation_text != nullptr
                                  ? rotation_from_string(rotation_text->get<std::string>())
                                  : Rotation::BEST_FIT;
    const double weight = number_or_default(value, kWeight, 0.0);
    const double depth = required_number(value, kItemDepth);
    const double length = required_number(value, kItemLength);
    const double width = required_number(value, kItemWidth);
    std::string item_reference = text_or_default(value, kItemReference, item_code);
    std::string box_group = text_or_default(value, kBoxGroup, "");
    return make_item(std::move(item_code), std::move(item_reference), width, length, depth, weight,
                     std::move(box_group), rotation);
}

template <class Object>
BoxPtr read_box(const Object& value) {
    if (!value.is_object() || value.find(kReference) == nullptr) {
        throw std::invalid_argument("box is missing required field 'Reference'");
    }
    const json* active_member = present_member(value, kActive);
    const bool active = active_member ? active_member->get<bool>() : true;
    const double empty_weight = number_or_default(value, kBoxWeight, 0.0);
    const double max_weight = number_or_default(value, kMaxWeight, -1.0);
    const double depth = required_number(value, kBoxDepth);
    const double length = required_number(value, kBoxLength);
    const double width = required_number(value, kBoxWidth);
    std::string reference = required_text(value, kReference);
    std::optional<std::int32_t> quantity;
    if (const json* member = present_member(value, kMaximumBoxes)) quantity = quantity_of(*member);
    return make_box(std::move(reference), width, length, depth, max_weight, empty_weight, active,
                    quantity);
}

}  // namespace

ItemPtr item_from_json(const json& value) { return read_item(JsonObject(value)); }

BoxPtr box_from_json(const json& value) { return read_box(JsonObject(value)); }

// The library's own iteration already has the wanted shape: arrays give their
// elements, objects their values in key order, null nothing, scalars themselves.
void read_items(const json& elements, ItemList& items) {
    for (const json& element : elements) {
        check_stop();
        items.add(item_from_json(element));
    }
}

void read_boxes(const json& elements, BoxList& boxes) {
    for (const json& element : elements) {
        check_stop();
        boxes.add(box_from_json(element));
    }
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

namespace {

PackRequest request_from_fields(const RequestFields& fields) {
    PackRequest request;
    for (const ObjectFields& item : fields.items) {
        check_stop();
        request.items.add(read_item(FieldsObject(item)));
    }
    for (const ObjectFields& box : fields.boxes) {
        check_stop();
        request.boxes.add(read_box(FieldsObject(box)));
    }
    return request;
}

}  // namespace

// A request of the usual shape is read from fields collected in one pass
// over its text, without its JSON value; the same rules read both, in the
// same order. A plain text is scanned without the library; a text of the
// usual shape that is not plain goes through the library's parser, which
// collects the same fields. Any other text, a NUL byte in it included, is
// parsed first.
PackRequest parse_request(const std::string& text) {
    if (std::optional<RequestFields> fields = scan_plain_request(text)) {
        return request_from_fields(*fields);
    }
    if (text.find('\0') == std::string::npos) {
        if (std::optional<RequestFields> fields = collect_request_fields(text)) {
            return request_from_fields(*fields);
        }
    }
    const json value = json::parse(text, nullptr, /*allow_exceptions=*/true,
                                   /*ignore_comments=*/false);
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
        refuse_stray_nul(text, nul);
    }
    return request_from_json(value);
}

}  // namespace stowvex
