// Support of items from below.
#include "optimiser/support.hpp"

#include <algorithm>
#include <cstddef>

namespace stowvex::optimiser {

namespace {

bool lower(const Cuboid& face, double height) { return face.high[2] < height; }
bool higher(double height, const Cuboid& face) { return height < face.high[2]; }

}  // namespace

void TopFaces::add(const Cuboid& top) {
    faces_.insert(std::upper_bound(faces_.begin(), faces_.end(), top.high[2], higher), top);
}

std::size_t TopFaces::count_at(double height) const {
    const auto low = std::lower_bound(faces_.begin(), faces_.end(), height, lower);
    return static_cast<std::size_t>(std::upper_bound(low, faces_.end(), height, higher) - low);
}

double TopFaces::supported_area(const Cuboid& item) const {
    double area = 0.0;
    const double height = item.low[2];
    for (auto face = std::lower_bound(faces_.begin(), faces_.end(), height, lower);
         face != faces_.end() && face->high[2] == height; ++face) {
        area += footprint_overlap(*face, item);
    }
    return area;
}

std::vector<bool> supported_cuboids(const std::vector<Cuboid>& cuboids, double ratio) {
    std::vector<bool> result(cuboids.size(), true);
    // The cuboids by the height of their tops, and in their own order at one
    // height, so that each item meets only those whose tops are at its base,
    // and adds up their areas in the order of the list (the same sum as a
    // walk through the whole list).
    std::vector<std::size_t> by_top(cuboids.size());
    for (std::size_t i = 0; i < by_top.size(); ++i) by_top[i] = i;
    std::sort(by_top.begin(), by_top.end(), [&](std::size_t a, std::size_t b) {
        const double ta = cuboids[a].high[2];
        const double tb = cuboids[b].high[2];
        return ta < tb || (ta == tb && a < b);
    });
    for (std::size_t i = 0; i < cuboids.size(); ++i) {
        const Cuboid& item = cuboids[i];
        if (item.low[2] == 0.0) continue;
        const double height = item.low[2];
        auto at = std::lower_bound(by_top.begin(), by_top.end(), height,
                                   [&](std::size_t j, double h) { return cuboids[j].high[2] < h; });
        double area = 0.0;
        for (; at != by_top.end() && cuboids[*at].high[2] == height; ++at) {
            if (*at != i) area += footprint_overlap(cuboids[*at], item);
        }
        const double base = item.extent(0) * item.extent(1);
        result[i] = enough_support(area, base, ratio);
    }
    return result;
}

}  // namespace stowvex::optimiser
