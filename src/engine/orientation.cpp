// The best-fit choice among the orientations an item may take. The choice
// walks a fixed table, so a failed attempt costs no allocation.
#include "engine/orientation.hpp"

namespace stowvex {

namespace {

bool fits(const double dims[3], const Layout& layout, double available_width,
          double available_length, double available_depth) {
    return dims[layout.along_width] <= available_width &&
           dims[layout.along_length] <= available_length &&
           dims[layout.along_depth] <= available_depth;
}

}  // namespace

std::size_t layout_count(Rotation rotation) {
    switch (rotation) {
        case Rotation::NEVER: return 1;
        case Rotation::KEEP_FLAT: return 2;
        default: return 6;
    }
}

int best_layout(const double dims[3], Rotation rotation, double available_width,
                double available_length, double available_depth) {
    const std::size_t count = layout_count(rotation);
    int chosen = -1;
    double chosen_width_slack = 0.0;
    double chosen_length_slack = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Layout& layout = kLayouts[i];
        if (!fits(dims, layout, available_width, available_length, available_depth)) continue;
        const double width_slack = available_width - dims[layout.along_width];
        const double length_slack = available_length - dims[layout.along_length];
        if (chosen < 0 || width_slack < chosen_width_slack ||
            (width_slack == chosen_width_slack && length_slack < chosen_length_slack)) {
            chosen = static_cast<int>(i);
            chosen_width_slack = width_slack;
            chosen_length_slack = length_slack;
        }
    }
    return chosen;
}

bool fits_some_orientation(double width, double length, double depth, Rotation rotation,
                           double available_width, double available_length,
                           double available_depth) {
    const double dims[3] = {width, length, depth};
    const std::size_t count = layout_count(rotation);
    for (std::size_t i = 0; i < count; ++i) {
        if (fits(dims, kLayouts[i], available_width, available_length, available_depth)) {
            return true;
        }
    }
    return false;
}

}  // namespace stowvex
