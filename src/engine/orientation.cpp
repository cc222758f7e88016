// The best-fit choice among the orientations an item may take. The choice
// walks a fixed table, so a failed attempt costs no allocation.
#include "engine/orientation.hpp"

namespace stowvex {

namespace {

bool fits(const double dims[3], const Orientation& turn, double available_width,
          double available_length, double available_depth) {
    return dims[turn.along_width] <= available_width &&
           dims[turn.along_length] <= available_length && dims[turn.along_depth] <= available_depth;
}

}  // namespace

int best_orientation(const double dims[3], Rotation rotation, double available_width,
                     double available_length, double available_depth) {
    const std::size_t count = orientation_count(rotation);
    int chosen = -1;
    double chosen_width_slack = 0.0;
    double chosen_length_slack = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Orientation& turn = kOrientations[i];
        if (!fits(dims, turn, available_width, available_length, available_depth)) continue;
        const double width_slack = available_width - dims[turn.along_width];
        const double length_slack = available_length - dims[turn.along_length];
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
    const std::size_t count = orientation_count(rotation);
    for (std::size_t i = 0; i < count; ++i) {
        if (fits(dims, kOrientations[i], available_width, available_length, available_depth)) {
            return true;
        }
    }
    return false;
}

}  // namespace stowvex
