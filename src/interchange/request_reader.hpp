// Reading packing requests: request text and JSON values into items, box
// types and the two request lists.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "model/box.hpp"
#include "model/item.hpp"
#include "model/pack_request.hpp"

namespace stowvex {

// Parses strict JSON (no comments, one value) and reads it as a request.
PackRequest parse_request(const std::string& text);

// Reads {"items": ..., "boxes": ...}; anything else yields two empty lists.
PackRequest request_from_json(const nlohmann::json& value);

ItemPtr item_from_json(const nlohmann::json& value);
BoxPtr box_from_json(const nlohmann::json& value);

// Append every element of an "items" or "boxes" value to a list: an array
// gives its elements, an object its member values in key order, null
// nothing, and any other value itself once.
void read_items(const nlohmann::json& elements, ItemList& items);
void read_boxes(const nlohmann::json& elements, BoxList& boxes);

}  // namespace stowvex
