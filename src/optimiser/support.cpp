// Support of items from below.
#include "optimiser/support.hpp"

#include <algorithm>

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
    for (std::size_t i = 0; i < cuboids.size(); ++i) {
        const Cuboid& item = cuboids[i];
        if (item.low[2] == 0.0) continue;
        double area = 0.0;
        for (std::size_t j = 0; j < cuboids.size(); ++j) {
            if (j != i && cuboids[j].high[2] == item.low[2]) {
                area += footprint_overlap(cuboids[j], item);
            }
        }
        const double base = item.extent(0) * item.extent(1);
        result[i] = enough_support(area, base, ratio);
    }
    return result;
}

}  // namespace stowvex::optimiser
