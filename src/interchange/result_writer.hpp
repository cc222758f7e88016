// Writing results: the placement, packed-box and response objects and the
// response text. The member functions live in the model classes; this header
// gathers them with the text form shared by every result writer.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "model/pack_response.hpp"
#include "model/packed_box.hpp"
#include "model/packed_item.hpp"

namespace stowvex {

// JSON text of a result value: compact for a negative indent, otherwise one
// member per line indented by `indent` blanks per level. Non-ASCII is written
// raw; invalid UTF-8 throws the library's type_error 316. An indent so large
// that the text would pass 1 GiB throws std::length_error.
std::string result_text(const nlohmann::json& value, int indent);

}  // namespace stowvex
