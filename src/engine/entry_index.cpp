// The entry index: a tree over the entries in list order.
#include "engine/entry_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/exact_measures.hpp"
#include "engine/packing_control.hpp"
#include "model/packing_rules.hpp"

namespace stowvex {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

EntryIndex::Node EntryIndex::none() { return Node{{kInfinity, kInfinity, kInfinity}, kInfinity}; }

EntryIndex::Node EntryIndex::joined(const Node& a, const Node& b) {
    return Node{
        {std::min(a.low[0], b.low[0]), std::min(a.low[1], b.low[1]), std::min(a.low[2], b.low[2])},
        std::min(a.light, b.light)};
}

EntryIndex::Extent EntryIndex::no_extent() {
    return Extent{{-kInfinity, -kInfinity, -kInfinity}, -kInfinity, 0.0};
}

EntryIndex::Extent EntryIndex::joined(const Extent& a, const Extent& b) {
    return Extent{{std::max(a.high[0], b.high[0]), std::max(a.high[1], b.high[1]),
                   std::max(a.high[2], b.high[2])},
                  std::max(a.heavy, b.heavy),
                  a.volume + b.volume};
}

EntryIndex::EntryIndex(const std::vector<PackingEntry>& entries) {
    leaves_ = 1;
    while (leaves_ < entries.size()) leaves_ *= 2;
    nodes_.assign(2 * leaves_, none());
    extents_.assign(2 * leaves_, no_extent());
    present_.assign(leaves_, 0);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        check_stop();
        const PackingEntry& e = entries[k];
        if (!e.placeable) continue;
        Node& leaf = nodes_[leaves_ + k];
        Extent& extent = extents_[leaves_ + k];
        for (int rank = 0; rank < 3; ++rank) {
            leaf.low[rank] = e.ascending[rank];
            extent.high[rank] = e.ascending[rank];
        }
        // Only a weight of 0 or more passes a weight test.
        leaf.light = e.weight >= 0.0 ? e.weight : kInfinity;
        extent.heavy = std::isnan(e.weight) ? -kInfinity : e.weight;
        extent.volume = stowvex::volume_below(e.dims[0], e.dims[1], e.dims[2]);
        present_[k] = 1;
        ++count_;
    }
    for (std::size_t k = leaves_ - 1; k > 0; --k) {
        nodes_[k] = joined(nodes_[2 * k], nodes_[2 * k + 1]);
        extents_[k] = joined(extents_[2 * k], extents_[2 * k + 1]);
    }
}

void EntryIndex::remove(std::uint32_t entry) {
    if (present_[entry] == 0) return;
    present_[entry] = 0;
    std::size_t k = leaves_ + entry;
    nodes_[k] = none();
    extents_[k] = no_extent();
    --count_;
    for (k /= 2; k > 0; k /= 2) {
        nodes_[k] = joined(nodes_[2 * k], nodes_[2 * k + 1]);
        extents_[k] = joined(extents_[2 * k], extents_[2 * k + 1]);
    }
}

// The root's volume is the sum of the bounds of the entries in, added up
// along the tree: adding a 0 is exact, and a summation tree of n terms has at
// most n - 1 additions on any path, so sum_below's bound for n terms added
// one after another holds for it.
double EntryIndex::volume_below() const { return sum_below(extents_[1].volume, count_); }

// Subtrees that hold a smallest measure larger than the bound's of its rank,
// or whose lightest weight fails the weight test, hold nothing that is looked
// for: adding a heavier weight gives no smaller sum. For a single entry the
// test is exact. A subtree without entries has infinities, and only an
// infinite bound (a volume of infinite size) lets it through.
bool EntryIndex::excluded(const Node& n, const double bound[3], double used, double budget) {
    if (n.low[0] > bound[0] || n.low[1] > bound[1] || n.low[2] > bound[2]) return true;
    return !within_budget(used + n.light, budget);
}

// The search starts at the leaf of `from` and climbs only as far as it must,
// so that a run of entries that are all looked for costs one test each.
std::uint32_t EntryIndex::next(std::uint32_t from, const double bound[3], double used,
                               double budget) const {
    if (count_ == 0 || from >= leaves_) return kNone;
    std::size_t k = leaves_ + from;
    if (present_[from] != 0 && !excluded(nodes_[k], bound, used, budget)) return from;
    for (;;) {
        while (k % 2 == 1) {  // a right child: its parent's subtree is done
            k /= 2;
            if (k <= 1) return kNone;
        }
        ++k;  // the subtree right of those tried
        const std::uint32_t found = leftmost(k, bound, used, budget);
        if (found != kNone) return found;
    }
}

std::uint32_t EntryIndex::leftmost(std::size_t k, const double bound[3], double used,
                                   double budget) const {
    if (excluded(nodes_[k], bound, used, budget)) return kNone;
    if (k >= leaves_)
        return present_[k - leaves_] != 0 ? static_cast<std::uint32_t>(k - leaves_) : kNone;
    const std::uint32_t found = leftmost(2 * k, bound, used, budget);
    if (found != kNone) return found;
    return leftmost(2 * k + 1, bound, used, budget);
}

}  // namespace stowvex
