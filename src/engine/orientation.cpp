// Orientation candidates and the best-fit choice. The choice walks a fixed
// table instead of building the candidate list, so a failed attempt costs no
// allocation; the order and the tie rules are those of orientations_of.
#include "engine/orientation.hpp"

#include <cstddef>

namespace stowvex {

namespace {

// Which item dimension (0 width, 1 length, 2 depth) lies along each box axis.
struct Layout {
    const char* label;
    int along_width;
    int along_length;
    int along_depth;
};

constexpr Layout kLayouts[6] = {
    {"WLD", 0, 1, 2}, {"LWD", 1, 0, 2}, {"WDL", 0, 2, 1},
    {"LDW", 1, 2, 0}, {"DWL", 2, 0, 1}, {"DLW", 2, 1, 0},
};

std::size_t layout_count(Rotation rotation) {
    switch (rotation) {
        case Rotation::NEVER: return 1;
        case Rotation::KEEP_FLAT: return 2;
        default: return 6;
    }
}

bool fits(const double dims[3], const Layout& layout, double available_width,
          double available_length, double available_depth) {
    return dims[layout.along_width] <= available_width &&
           dims[layout.along_length] <= available_length &&
           dims[layout.along_depth] <= available_depth;
}

}  // namespace

std::vector<OrientationCandidate> orientations_of(const ItemPtr& item) {
    const double dims[3] = {item->width(), item->length(), item->depth()};
    const std::size_t count = layout_count(item->allowed_rotation());
    std::vector<OrientationCandidate> candidates;
    candidates.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Layout& layout = kLayouts[i];
        candidates.push_back({item, dims[layout.along_width], dims[layout.along_length],
                              dims[layout.along_depth], layout.label});
    }
    return candidates;
}

std::optional<OrientationCandidate> best_orientation(const ItemPtr& item, double available_width,
                                                     double available_length,
                                                     double available_depth) {
    const double dims[3] = {item->width(), item->length(), item->depth()};
    const std::size_t count = layout_count(item->allowed_rotation());
    const Layout* chosen = nullptr;
    double chosen_width_slack = 0.0;
    double chosen_length_slack = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Layout& layout = kLayouts[i];
        if (!fits(dims, layout, available_width, available_length, available_depth)) continue;
        const double width_slack = available_width - dims[layout.along_width];
        const double length_slack = available_length - dims[layout.along_length];
        // Depth slack is deliberately not compared.
        if (chosen == nullptr || width_slack < chosen_width_slack ||
            (width_slack == chosen_width_slack && length_slack < chosen_length_slack)) {
            chosen = &layout;
            chosen_width_slack = width_slack;
            chosen_length_slack = length_slack;
        }
    }
    if (chosen == nullptr) return std::nullopt;
    return OrientationCandidate{item, dims[chosen->along_width], dims[chosen->along_length],
                                dims[chosen->along_depth], chosen->label};
}

bool fits_some_orientation(const Item& item, double available_width, double available_length,
                           double available_depth) {
    return fits_some_orientation(item.width(), item.length(), item.depth(),
                                 item.allowed_rotation(), available_width, available_length,
                                 available_depth);
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
