// Support of items from below.
#include "optimiser/support.hpp"

namespace stowvex::optimiser {

double TopFaces::supported_area(const Cuboid& item) const {
    double area = 0.0;
    for (const Cuboid& face : faces_) {
        if (face.high[2] == item.low[2]) area += footprint_overlap(face, item);
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
