// Rotation freedom texts.
#include "model/rotation.hpp"

#include <cctype>

namespace stowvex {

std::string rotation_to_string(Rotation rotation) {
    switch (rotation) {
        case Rotation::NEVER: return "Never";
        case Rotation::KEEP_FLAT: return "KeepFlat";
        default: return "BestFit";
    }
}

Rotation rotation_from_string(const std::string& text) {
    std::string lowered = text;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lowered == "never") return Rotation::NEVER;
    if (lowered == "keepflat" || lowered == "keep_flat") return Rotation::KEEP_FLAT;
    return Rotation::BEST_FIT;
}

}  // namespace stowvex
