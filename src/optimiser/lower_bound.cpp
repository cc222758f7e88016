// Lower bounds on boxes.
#include "optimiser/lower_bound.hpp"

#include <algorithm>
#include <cmath>

#include "optimiser/box_problem.hpp"

namespace stowvex::optimiser {

namespace {

Vec3 extents_of(const BoxType& type) {
    return {type.box->width(), type.box->length(), type.box->depth()};
}

bool fits(const Vec3& size, const Vec3& room) {
    return size[0] <= room[0] && size[1] <= room[1] && size[2] <= room[2];
}

// Whether one item of each kind fit a type together: two cuboids in a box
// lie on either side of a plane across one axis.
bool fit_together(const ItemKind& a, const ItemKind& b, const BoxType& type) {
    const WeightLimit limit = WeightLimit::of(*type.box);
    if (!limit.allows(0.0 + a.weight + b.weight)) return false;
    const Vec3 room = extents_of(type);
    for (const Orientation& oa : a.orientations) {
        if (!fits(oa.size, room)) continue;
        for (const Orientation& ob : b.orientations) {
            if (!fits(ob.size, room)) continue;
            for (int axis = 0; axis < 3; ++axis) {
                if (oa.size[axis] + ob.size[axis] <= room[axis]) return true;
            }
        }
    }
    return false;
}

}  // namespace

bool kind_fits(const ItemKind& kind, const BoxType& type) {
    if (!WeightLimit::of(*type.box).allows(0.0 + kind.weight)) return false;
    const Vec3 room = extents_of(type);
    for (const Orientation& o : kind.orientations) {
        if (fits(o.size, room)) return true;
    }
    return false;
}

std::vector<int> placeable_counts(const KindTable& kinds, const std::vector<int>& counts,
                                  const BoxTypes& types) {
    std::vector<int> result(counts.size(), 0);
    for (std::size_t k = 0; k < counts.size(); ++k) {
        for (std::size_t t = 0; t < types.size() && result[k] == 0; ++t) {
            if (kind_fits(kinds.kinds[k], types[t])) result[k] = counts[k];
        }
    }
    // A box group goes into a box whole or not at all.
    for (const std::vector<int>& group : kinds.group_kinds) {
        bool whole = true;
        for (const int k : group) whole = whole && result[k] == counts[k];
        if (whole) continue;
        for (const int k : group) result[k] = 0;
    }
    return result;
}

std::size_t box_count_bound(const KindTable& kinds, const std::vector<int>& counts,
                            const BoxTypes& types) {
    double volume = 0.0;
    double largest = 0.0;
    std::vector<int> order;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] <= 0) continue;
        volume += kinds.kinds[k].volume * counts[k];
        order.push_back(static_cast<int>(k));
    }
    if (order.empty()) return 0;
    for (std::size_t t = 0; t < types.size(); ++t) largest = std::max(largest, types[t].volume);
    std::size_t bound = 1;
    if (largest > 0.0) {
        // Shaved a little, so that rounding cannot lift it over the truth.
        const double boxes = volume / largest;
        bound = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(boxes * (1.0 - 1e-9))));
    }

    // Items no two of which share a box, largest first; a kind joins once
    // per copy when two of its items cannot share a box either.
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return kinds.kinds[a].volume > kinds.kinds[b].volume; });
    const auto apart = [&](int a, int b) {
        for (std::size_t t = 0; t < types.size(); ++t) {
            if (fit_together(kinds.kinds[a], kinds.kinds[b], types[t])) return false;
        }
        return true;
    };
    std::vector<int> clique;
    std::size_t members = 0;
    for (const int k : order) {
        bool joins = true;
        for (const int c : clique) joins = joins && apart(k, c);
        if (!joins) continue;
        clique.push_back(k);
        members += apart(k, k) ? static_cast<std::size_t>(counts[k]) : 1;
    }
    return std::max(bound, members);
}

}  // namespace stowvex::optimiser
