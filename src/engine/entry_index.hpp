// The index of the entries still to be placed in one packing, by size and
// weight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/packing_entry.hpp"

namespace stowvex {

// The entries still to be placed in one packing, indexed so that those that
// may fit an extent are found without looking at the others.
class EntryIndex {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    EntryIndex() = default;
    // Every placeable entry.
    explicit EntryIndex(const std::vector<PackingEntry>& entries);

    bool empty() const { return count_ == 0; }
    void remove(std::uint32_t entry);

    // The first entry at or after `from` that may fit an extent whose sorted
    // measures are at most `bound` and whose weight may be added to `used`
    // under the budget (negative: no limit). Every entry that fits such an
    // extent and passes that weight test is found; some found may not fit.
    std::uint32_t next(std::uint32_t from, const double bound[3], double used, double budget) const;

    // Over the entries still in: the smallest and the largest measure of
    // each rank, the heaviest weight that is not NaN (-infinity if none), and
    // a bound below their total volume (exact_measures), each without a walk
    // over the entries.
    double smallest(int rank) const { return nodes_[1].low[rank]; }
    double largest(int rank) const { return extents_[1].high[rank]; }
    double heaviest() const { return extents_[1].heavy; }
    double volume_below() const;

private:
    // Per subtree of entries: the smallest measure of each rank and the
    // lightest weight of 0 or more. An empty subtree has infinities.
    struct Node {
        double low[3];
        double light;
    };
    static Node none();
    static Node joined(const Node& a, const Node& b);
    static bool excluded(const Node& n, const double bound[3], double used, double budget);
    // The first entry looked for in the subtree of node k.
    std::uint32_t leftmost(std::size_t k, const double bound[3], double used, double budget) const;

    // Per subtree, what only the figures above read: the largest measure of
    // each rank, the heaviest weight and the sum of the volume bounds (a
    // summation tree of the entries in, with 0 for the others).
    struct Extent {
        double high[3];
        double heavy;
        double volume;
    };
    static Extent no_extent();
    static Extent joined(const Extent& a, const Extent& b);

    std::vector<Node> nodes_;      // heap layout: node k has children 2k and 2k + 1
    std::vector<Extent> extents_;  // the same layout
    std::vector<char> present_;    // by entry
    std::size_t leaves_ = 0;
    std::size_t count_ = 0;
};

}  // namespace stowvex
