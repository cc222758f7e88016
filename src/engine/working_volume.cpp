// Working volumes: the reference text is formatted once, at construction.
#include "engine/working_volume.hpp"

#include <cstdio>

namespace stowvex {

namespace {

// "%f" of the largest double has 309 integer digits; three of them, the
// separators and the prefix stay well below this.
constexpr int kReferenceCapacity = 1024;

std::string format_reference(double width, double length, double depth) {
    char text[kReferenceCapacity];
    const int written =
        std::snprintf(text, sizeof text, "Working Volume %fx%fx%f", width, length, depth);
    if (written < 0) return "Working Volume ";
    if (written < kReferenceCapacity) return std::string(text, static_cast<std::size_t>(written));
    std::string long_text(static_cast<std::size_t>(written) + 1, '\0');
    std::snprintf(&long_text[0], long_text.size(), "Working Volume %fx%fx%f", width, length, depth);
    long_text.resize(static_cast<std::size_t>(written));
    return long_text;
}

}  // namespace

WorkingVolume::WorkingVolume(double width, double length, double depth)
    : width_(width),
      length_(length),
      depth_(depth),
      reference_(format_reference(width, length, depth)) {}

}  // namespace stowvex
