// Writing results: the JSON forms of a placement, a packed box and a response,
// as JSON values (what to_dict hands to Python) and as text (what solve
// returns). Both come from one description of each form.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "model/pack_response.hpp"
#include "model/packed_box.hpp"
#include "model/packed_item.hpp"

namespace stowvex {

// The placement object of a PackedItem.
nlohmann::json to_json(const PackedItem& placement);
// The packed-box object of a PackedBox, without box_index.
nlohmann::json to_json(const PackedBox& box);
// The response object of a PackResponse.
nlohmann::json to_json(const PackResponse& response);

// The response object as text, written directly rather than through a JSON
// value, exactly as the JSON library writes that value: compact for a
// negative indent, otherwise one member per line indented by `indent`
// blanks per level, for any indent. Non-ASCII is written raw; invalid UTF-8
// throws the library's type_error 316.
std::string to_json_text(const PackResponse& response, int indent);

// A result text and whether it is ASCII throughout (no text in it holds a
// byte above 0x7F), so that a caller may take it without decoding it.
struct ResultText {
    std::string text;
    bool ascii = true;
};
ResultText to_json_result_text(const PackResponse& response, int indent);

}  // namespace stowvex
