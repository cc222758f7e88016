// The rotation freedom of an item, and its names in requests and results.
#pragma once

#include <cstdint>
#include <string>

namespace stowvex {

enum class Rotation : std::int32_t { NEVER = 0, KEEP_FLAT = 1, BEST_FIT = 2 };

std::string rotation_to_string(Rotation rotation);
// Any case; "keep_flat" too. Anything unknown is BEST_FIT.
Rotation rotation_from_string(const std::string& text);

}  // namespace stowvex
