// The placed regions of a volume indexed by position, so that the first
// region of the list, from a given one on, that overlaps a space is found
// without testing the regions that lie elsewhere.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/free_space.hpp"

namespace stowvex {

class RegionIndex {
public:
    // Indexes the regions, which must outlive the index.
    explicit RegionIndex(const std::vector<Region>& regions);

    // The position of the first region at or after `from` that overlaps the
    // space (as overlaps() decides), or the number of regions when none does.
    std::size_t first_overlapping(const FreeSpace& space, std::size_t from) const;

private:
    // The low and high faces of the regions of a subtree along each axis: the
    // least low face and the greatest high face, each face computed as
    // overlaps() computes it. A space that overlaps none of these bounds
    // overlaps none of the subtree's regions.
    struct Bounds {
        double low[3];
        double high[3];
    };
    static constexpr std::size_t kBucket = 8;  // regions a leaf holds
    bool may_overlap(std::size_t node, const FreeSpace& space, const double space_high[3]) const;
    // The first region from `from` to before `to` that overlaps the space, or
    // the number of regions.
    std::size_t scan(const FreeSpace& space, std::size_t from, std::size_t to) const;

    const std::vector<Region>& regions_;
    // With a NaN face the bounds would prove nothing: every search walks the list.
    bool walk_ = false;
    std::size_t leaves_ = 0;
    // Heap layout: node k has children 2k and 2k + 1; the leaves are buckets.
    std::vector<Bounds> nodes_;
};

}  // namespace stowvex
