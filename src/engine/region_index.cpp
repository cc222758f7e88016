// The index of placed regions by position.
#include "engine/region_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace stowvex {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

// A node's bounds hold the least low face and the greatest high face of its
// regions, so for any of them, p.low >= node.low and p.high <= node.high. A
// region overlaps the space when, on every axis, p.low < s.high and s.low <
// p.high (no face NaN); then node.low < s.high and s.low < node.high as
// well. So a node whose bounds fail that test on some axis holds no region
// that overlaps the space. An empty node has bounds (inf, -inf): it fails.
// The leaves are buckets of kBucket consecutive regions.
RegionIndex::RegionIndex(const std::vector<Region>& regions) : regions_(regions) {
    const std::size_t buckets = (regions.size() + kBucket - 1) / kBucket;
    leaves_ = 1;
    while (leaves_ < buckets) leaves_ *= 2;
    nodes_.assign(2 * leaves_,
                  Bounds{{kInfinity, kInfinity, kInfinity}, {-kInfinity, -kInfinity, -kInfinity}});
    for (std::size_t k = 0; k < regions.size(); ++k) {
        const Region& p = regions[k];
        const double low[3] = {p.x, p.y, p.z};
        const double high[3] = {p.x + p.width, p.y + p.length, p.z + p.depth};
        Bounds& leaf = nodes_[leaves_ + k / kBucket];
        for (int axis = 0; axis < 3; ++axis) {
            if (std::isnan(low[axis]) || std::isnan(high[axis])) walk_ = true;
            leaf.low[axis] = std::min(leaf.low[axis], low[axis]);
            leaf.high[axis] = std::max(leaf.high[axis], high[axis]);
        }
    }
    if (walk_) return;
    for (std::size_t k = leaves_ - 1; k > 0; --k) {
        const Bounds& a = nodes_[2 * k];
        const Bounds& b = nodes_[2 * k + 1];
        Bounds& n = nodes_[k];
        for (int axis = 0; axis < 3; ++axis) {
            n.low[axis] = std::min(a.low[axis], b.low[axis]);
            n.high[axis] = std::max(a.high[axis], b.high[axis]);
        }
    }
}

bool RegionIndex::may_overlap(std::size_t node, const FreeSpace& s,
                              const double space_high[3]) const {
    const Bounds& n = nodes_[node];
    return !(n.low[0] >= space_high[0] || s.x >= n.high[0] || n.low[1] >= space_high[1] ||
             s.y >= n.high[1] || n.low[2] >= space_high[2] || s.z >= n.high[2]);
}

std::size_t RegionIndex::scan(const FreeSpace& s, std::size_t from, std::size_t to) const {
    to = std::min(to, regions_.size());
    while (from < to && !overlaps(s, regions_[from])) ++from;
    return from < to ? from : regions_.size();
}

// The search tries the rest of the bucket of `from`, then climbs from its
// leaf only as far as it must and goes down the first subtree to the right
// whose bounds the space meets, leftmost first.
std::size_t RegionIndex::first_overlapping(const FreeSpace& s, std::size_t from) const {
    const std::size_t count = regions_.size();
    if (walk_) return scan(s, from, count);
    if (from >= count) return count;
    std::size_t found = scan(s, from, (from / kBucket + 1) * kBucket);
    if (found != count) return found;
    // A NaN face of the space makes every comparison false: the bounds then
    // let every node through, and the regions decide with overlaps() itself.
    const double high[3] = {s.x + s.width, s.y + s.length, s.z + s.depth};
    std::size_t k = leaves_ + from / kBucket;
    for (;;) {
        while (k % 2 == 1) {  // a right child: its parent's subtree is done
            k /= 2;
            if (k <= 1) return count;
        }
        ++k;  // the subtree right of those searched
        if (!may_overlap(k, s, high)) continue;
        // Down to the leftmost bucket that holds an overlapping region, if any.
        for (;;) {
            if (k >= leaves_) {
                const std::size_t first = (k - leaves_) * kBucket;
                found = scan(s, first, first + kBucket);
                if (found != count) return found;
                break;  // climb on from this leaf
            }
            if (may_overlap(2 * k, s, high)) {
                k = 2 * k;
            } else if (may_overlap(2 * k + 1, s, high)) {
                k = 2 * k + 1;
            } else {
                break;
            }
        }
    }
}

}  // namespace stowvex
