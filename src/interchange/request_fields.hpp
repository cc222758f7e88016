// The members of the item and box objects of a request text, collected in one
// pass over the text without building its JSON value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace stowvex {

// The members an item or box object may have that the readers use, in the
// order of ObjectFields::members.
inline constexpr std::array<const char*, 8> kItemMembers = {
    "ItemCode", "AllowedRotation", "Weight",        "Depth",
    "Length",   "Width",           "ItemReference", "BoxGroup"};
inline constexpr std::array<const char*, 8> kBoxMembers = {
    "Reference", "Active", "BoxWeight", "MaxWeight", "Depth", "Length", "Width", "MaximumBoxes"};

// The members of one object that the readers use, each a scalar value.
struct ObjectFields {
    std::array<nlohmann::json, 8> members;
    std::uint8_t present = 0;  // bit k: members[k] was in the object
};

struct RequestFields {
    std::vector<ObjectFields> items;
    std::vector<ObjectFields> boxes;
};

// The fields of a request text of the usual shape: one JSON object whose
// "items" and "boxes" members (each at most once) are arrays of objects or
// null, and whose item and box objects hold scalars in the members above;
// other members may hold anything. A value read from such fields is the
// value read from the parsed text. Nothing for any other text, valid or not:
// it is read from its parsed value, which gives the library's own errors.
std::optional<RequestFields> collect_request_fields(const std::string& text);

}  // namespace stowvex
