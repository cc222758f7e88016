// Support of items from below: the top faces of placed items, and the share
// of an item's base that rests on them. An item on the box floor is always
// supported; any other rests only on top faces at exactly its own height.
#pragma once

#include <cstddef>
#include <vector>

#include "optimiser/cuboid.hpp"

namespace stowvex::optimiser {

// A top face: the footprint of the cuboid at height high[2]. Faces are kept
// by height, and in the order added within one height, so that an item's
// support is summed over the faces at its own height alone, in that order.
class TopFaces {
public:
    void add(const Cuboid& top);
    const std::vector<Cuboid>& faces() const { return faces_; }
    // How many faces lie at `height`.
    std::size_t count_at(double height) const;

    // Area of the base of `item` that rests on the faces.
    double supported_area(const Cuboid& item) const;

private:
    std::vector<Cuboid> faces_;  // ascending by height
};

// Whether a base of area `base` with `supported` of it resting on items
// meets the ratio.
inline bool enough_support(double supported, double base, double ratio) {
    return supported >= ratio * base;
}

// For each cuboid of a packed box, whether it stands on the floor or rests on
// the tops of the others with at least `ratio` of its base.
std::vector<bool> supported_cuboids(const std::vector<Cuboid>& cuboids, double ratio);

}  // namespace stowvex::optimiser
