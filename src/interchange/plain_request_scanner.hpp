// A scanner of its own for request texts of the plainest common form, which
// yields the same fields as reading the text through the JSON library.
#pragma once

#include <optional>
#include <string_view>

#include "interchange/request_fields.hpp"

namespace stowvex {

// The fields of a request text that is plain: strict JSON of the usual shape
// (see collect_request_fields) whose strings are printable ASCII without
// escapes, whose numbers convert exactly and finitely, without a byte order
// mark and nested at most a few levels deep. Nothing for any other text,
// whether or not it is valid: collect_request_fields then reads it. For a
// plain text both give equal fields (the same kinds of values, numbers
// equal bit for bit), so reading a request from either is the same.
std::optional<RequestFields> scan_plain_request(std::string_view text);

}  // namespace stowvex
